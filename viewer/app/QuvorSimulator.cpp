#include "viewer/app/QuvorSimulator.h"
#include "common/Console.h"

#include "viewer/app/QuvorConfig.h"
#include "common/Angles.h"
#include "common/AppDirs.h"
#include "common/ProductType.h"
#include "viewer/models/QuvorModel.h"
#include "ui_QuvorSimulatorUI.h"
#include "viewer/view/AircraftScene.h"
#include "viewer/view/GlowArea.h"
#include "viewer/view/Panels.h"
#include "viewer/view/TiledFloor.h"

#include <QAction>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QUdpSocket>

#include <Ogre.h>
#include <Bites/OgreCameraMan.h>

#include <cmath>
#include <cstring>
#include <set>

QuvorSimulator* gMainWindow = nullptr;

namespace {
int gContextCounter = 0;

qint64 processMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}
} // namespace

QuvorSimulator::QuvorSimulator(QWidget* parent, quint16 udpPort, bool consoleErrors)
    : OgreWidget(parent),
      mLocalAddresses(localIPv4Addresses()),
      mClock(&processMs)
{
    gMainWindow = this;
    gConfigTarget = this;
    ui = std::make_unique<Ui::QuvorSimulatorClass>();
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("QuvorSimulatorClass"));
    ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose);

    mContextName = "QuvorSimulator/Context/" + std::to_string(++gContextCounter) + "/";
    mPanels = std::make_unique<ParamsOverlay>(mContextName);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move((area.width() - width()) / 2, (area.height() - height()) / 2);
    }

    connect(this, &QuvorSimulator::updateUI, this, &QuvorSimulator::onUpdateUI);
    openReceiver(udpPort, consoleErrors);

    mSetupAction = new QAction(QIcon(appDirs().resourceDir + "/QuvorSimulator.ico"), tr("Setup"), this);
    connect(mSetupAction, &QAction::triggered, this, &QuvorSimulator::onShowConfigWindow);

    mHeartbeatTimer = std::make_unique<QTimer>();
    mHeartbeatTimer->setInterval(500);
    connect(mHeartbeatTimer.get(), &QTimer::timeout, this, &QuvorSimulator::onHeartBeat);
    connect(this, &QuvorSimulator::startRun, this, &QuvorSimulator::onRun);

    mCameraTimer = std::make_unique<QTimer>();
    mCameraTimer->setInterval(10);
    connect(mCameraTimer.get(), &QTimer::timeout, this, &QuvorSimulator::onCameraMove);
    mCameraTimer->start();

    mRenderTimer = std::make_unique<QTimer>();
    mRenderTimer->setInterval(20);
    connect(mRenderTimer.get(), &QTimer::timeout, this, &OgreWidget::renderTick);
    mRenderTimer->start();
}

QuvorSimulator::~QuvorSimulator()
{
    if (gMainWindow == this)
        gMainWindow = nullptr;
    if (gConfigTarget == this)
        gConfigTarget = nullptr;
    // OGRE outlives the window: its compositor must not call back into it.
    if (mGlowArea && mViewport) {
        if (Ogre::CompositorChain* chain = Ogre::CompositorManager::getSingleton().getCompositorChain(mViewport))
            if (Ogre::CompositorInstance* glow = chain->getCompositor("Glow"))
                glow->removeListener(mGlowArea.get());
    }
}

void QuvorSimulator::openReceiver(quint16 port, bool consoleErrors)
{
    // Listeners that share the port each get only some of the datagrams sent to
    // this machine (broadcasts reach all), so a second one is worth a word.
    bool shared = false;
    if (port != 0) {
        QUdpSocket probe;
        shared = !probe.bind(QHostAddress::Any, port, QUdpSocket::DontShareAddress) &&
            probe.error() == QAbstractSocket::AddressInUseError;
    }
    mUdpSocket = new QUdpSocket(this);
    if (mUdpSocket->bind(QHostAddress::Any, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        connect(mUdpSocket, &QUdpSocket::readyRead, this, &QuvorSimulator::onUdpRecv);
        const int fd = int(mUdpSocket->socketDescriptor());
        const int buffer = ReceiveDrops::enlargeReceiveBuffer(fd);
        if (buffer >= 0 && buffer < ReceiveDrops::kNeededBufferBytes)
            Console::warning(QStringLiteral("The UDP receive buffer holds %1 bytes, less than the %2 for half a second "
                                            "of states at 1000 a second: the system's limit allows no more "
                                            "(sysctl -w net.core.rmem_max=%2 raises it).")
                                 .arg(buffer)
                                 .arg(ReceiveDrops::kNeededBufferBytes));
        if (const std::optional<uint32_t> dropped = ReceiveDrops::droppedSoFar(fd)) {
            mDrops = std::make_unique<ReceiveDrops::Report>(mUdpSocket->localPort());
            mDrops->update(*dropped, processMs());
            mDropTimer = std::make_unique<QTimer>();
            mDropTimer->setSingleShot(true);
            mDropTimer->setInterval(int(ReceiveDrops::Report::kQuietMs));
            connect(mDropTimer.get(), &QTimer::timeout, this, &QuvorSimulator::checkDrops);
        }
        if (shared)
            Console::warning(QStringLiteral("Another program already listens on UDP port %1; only one of them will "
                                            "receive the datagrams sent to this machine unless the host broadcasts.")
                                 .arg(port));
        return;
    }
    const QString reason = mUdpSocket->errorString();
    delete mUdpSocket;
    mUdpSocket = nullptr;
    if (consoleErrors) {
        Console::warning(
            QStringLiteral("Failed to open UDP receiver on port %1: %2").arg(QString::number(port), reason));
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Info"), QStringLiteral("Failed to open UDP receiver!"));
    box.setInformativeText(QStringLiteral("UDP port %1: %2").arg(port).arg(reason));
    box.exec();
}

void QuvorSimulator::onUdpRecv()
{
    // A flood keeps this loop busy for as long as it lasts: the drops are read
    // along the way too, so the line can say how long it went on.
    int sinceCheck = 0;
    while (mUdpSocket && mUdpSocket->hasPendingDatagrams()) {
        if (++sinceCheck == 256) {
            sinceCheck = 0;
            checkDrops();
        }
        QByteArray datagram(int(mUdpSocket->pendingDatagramSize()), Qt::Uninitialized);
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = mUdpSocket->readDatagram(datagram.data(), datagram.size(), &from, &fromPort);
        if (size < 0)
            continue;
        datagram.resize(int(size));
        // An IPv4 sender reaches the dual-stack socket as an IPv4-mapped address.
        bool v4 = false;
        const quint32 ipv4 = from.toIPv4Address(&v4);
        handleDatagram(datagram, v4 ? QHostAddress(ipv4).toString() : from.toString(), fromPort);
    }
    checkDrops();
}

void QuvorSimulator::checkDrops()
{
    if (!mDrops || !mUdpSocket)
        return;
    const std::optional<uint32_t> dropped = ReceiveDrops::droppedSoFar(int(mUdpSocket->socketDescriptor()));
    if (!dropped)
        return;
    const QString line = mDrops->update(*dropped, processMs());
    if (!line.isEmpty())
        Console::warning(line);
    if (mDrops->pending() && !mDropTimer->isActive())
        mDropTimer->start();
}

void QuvorSimulator::handleDatagram(const QByteArray& datagram, const QString& address, quint16 port)
{
    const std::optional<StateDatagram::State> state = StateDatagram::decode(datagram);
    if (!state)
        return;
    const bool localOnly = gConfigDialog && gConfigDialog->mCheckIP;
    if (localOnly && !mLocalAddresses.contains(state->senderIp)) {
        if (Aircraft* known = mFleet.find(SenderKey{address, port, state->senderIp}))
            known->countPlayback(*state, false);
        return;
    }
    const Fleet::Route route = mFleet.route(*state, address, port);
    if (!route.line.isEmpty())
        Console::out(route.line + '\n', Console::Flush::Now);
    if (route.aircraft) {
        Aircraft& aircraft = *route.aircraft;
        aircraft.countPlayback(*state, true);
        mHandled = &aircraft;
        if (aircraft.take(*state, mSpeedRate, mClock())) {
            mFleet.place(aircraft);
            emit updateUI();
        } else {
            // The view keeps the last good state; the sender is still alive, so the run goes on.
            if (aircraft.firstRefusedThisRun())
                Console::warning(QStringLiteral("Ignoring flight states with a value that is not finite or lies too "
                                                "far away to be drawn (said once per run)."));
            emit startRun();
        }
        mHandled = nullptr;
    }
    if (gConfigDialog && gConfigDialog->m_udp_save)
        mRecorder.writeDatagram(datagram);
}

void QuvorSimulator::onUpdateUI()
{
    if (mHandled)
        onSimState();
}

void QuvorSimulator::onSimState()
{
    Aircraft* aircraft = mHandled;
    if (!aircraft)
        return;
    if (stateLock.tryLock()) {
        const Aircraft::Changes changes = aircraft->apply(mClock());
        AircraftScene* scene = ensureScene(*aircraft);

        if (changes.modelChanged) {
            mRenderTimer->stop();
            releaseModel(aircraft);
            aircraft->setModelProductType(aircraft->viewState().productType);
            selectModel(aircraft);
            if (scene)
                scene->destroyTraceDrawer();
            destroyTrajDrawer();
            markTrajDirty();
            mRenderTimer->start();
        }

        QuvorModel* model = scene ? scene->model() : nullptr;
        if (model) {
            if (changes.motorsOn)
                model->startMotors();
            else
                model->stopMotors();
            if (changes.arms == StateTriggers::Arms::Raise)
                model->raiseArms();
            else if (changes.arms == StateTriggers::Arms::Lower)
                model->lowerArms();
        }

        const ViewState& view = aircraft->viewState();
        if (gConfigDialog && gConfigDialog->m_save)
            mRecorder.writeTrace(view.x, view.y, view.z, traceTag(*aircraft));

        if (changes.traceDue) {
            const Ogre::Vector3 p = aircraft->scenePosition(mSpeedRate);
            if (scene && scene->appendTracePoint(p))
                requestFrame();
        }

        if (changes.commandChanged) {
            if (scene && scene->clearTracePoints())
                requestFrame();
            markTrajDirty();
            aircraft->placement().reset(true);
            if (followed(aircraft))
                mFollow.reset();
        }
        stateLock.unlock();
    }
    emit startRun();
}

void QuvorSimulator::onRun()
{
    if (mHandled && mHandled->countState()) {
        mHeartbeatTimer->start();
        if (gConfigDialog)
            gConfigDialog->setSpeedEditable(false);
        updateFleetLooks();
    }
}

void QuvorSimulator::onHeartBeat()
{
    for (const auto& aircraft : mFleet.aircraft())
        if (aircraft->heartBeat())
            endRun(*aircraft);
    removeSilentAircraft();
    // Beyond the runs the beat goes on while there is a silent aircraft to remove.
    if (!isRunning() && mFleet.size() <= 1)
        mHeartbeatTimer->stop();
}

void QuvorSimulator::endRun(Aircraft& aircraft)
{
    mRecorder.closeTrace(traceTag(aircraft));
    if (!isRunning())
        mRecorder.closeDatagrams();
    if (AircraftScene* scene = sceneOf(&aircraft))
        scene->clearTracePoints();
    releaseModel(&aircraft);
    selectModel(&aircraft);
    if (AircraftScene* scene = sceneOf(&aircraft))
        scene->destroyTraceDrawer();
    destroyTrajDrawer();
    markTrajDirty();
    if (gConfigDialog && !isRunning())
        gConfigDialog->setSpeedEditable(true);
    updateFleetLooks();
}

void QuvorSimulator::removeSilentAircraft()
{
    const QStringList lines = mFleet.removeSilent(mClock());
    if (lines.isEmpty())
        return;
    for (const QString& line : lines)
        Console::out(line + '\n', Console::Flush::Now);
    // The removed aircraft are gone: their scenes go by what is left, never by the aircraft.
    std::set<const Aircraft*> left;
    for (const auto& a : mFleet.aircraft())
        left.insert(a.get());
    for (auto it = mScenes.begin(); it != mScenes.end();)
        it = left.count(it->first) ? std::next(it) : mScenes.erase(it);
    updateFleetLooks();
    requestFrame();
}

QString QuvorSimulator::traceTag(const Aircraft& aircraft) const
{
    return aircraft.number() == 1 ? QString() : aircraft.key().fileTag();
}

AircraftScene* QuvorSimulator::sceneOf(const Aircraft* aircraft) const
{
    if (!aircraft)
        return mWaitingScene.get();
    const auto it = mScenes.find(aircraft);
    return it == mScenes.end() ? nullptr : it->second.get();
}

AircraftScene* QuvorSimulator::ensureScene(Aircraft& aircraft)
{
    if (AircraftScene* scene = sceneOf(&aircraft))
        return scene;
    if (!mSceneMgr || !mCameraMan || !mCameraNode)
        return nullptr;
    std::unique_ptr<AircraftScene> scene;
    if (mWaitingScene && mScenes.empty()) {
        // The first sender takes over the model the view showed while it waited.
        scene = std::move(mWaitingScene);
    } else {
        scene = std::make_unique<AircraftScene>(mSceneMgr, aircraft.number() - 1,
                                                mContextName + "Aircraft/" + std::to_string(aircraft.number()) + "/");
    }
    AircraftScene* raw = scene.get();
    mScenes[&aircraft] = std::move(scene);
    if (!raw->model())
        selectModel(&aircraft);
    updateFleetLooks();
    return raw;
}

void QuvorSimulator::onShowConfigWindow()
{
    if (gConfigDialog)
        gConfigDialog->show();
}

void QuvorSimulator::onTraceChanged()
{
    const bool locked = stateLock.tryLock();
    if (locked && gConfigDialog) {
        mRecorder.refresh(gConfigDialog->mTraceDir, gConfigDialog->mUdpDir, gConfigDialog->mClearToggle, [this] {
            for (auto& scene : mScenes)
                scene.second->clearTracePoints();
            requestFrame();
        });
        mRecorder.closeUnused(gConfigDialog->m_save, gConfigDialog->m_udp_save);
        setTraceVisible(gConfigDialog->m_show);
        mSpeedRate = qBound(0.5f, gConfigDialog->mSpeed, 1.5f);
    }
    if (locked)
        stateLock.unlock();
    requestFrame();
    if (gConfigDialog)
        gConfigDialog->writeSettings();
}

void QuvorSimulator::replaceTrajectory(const QVector<ScenePoint>& points)
{
    clearTrajPoints();
    for (const ScenePoint& p : points)
        appendTrajPoint(Ogre::Vector3(p.x, p.y, p.z));
    markTrajDirty();
}

Ogre::Vector3 QuvorSimulator::worldToScene(double x, double y, double z)
{
    const Aircraft* a = mFleet.followed();
    return followedPlacement().worldToScene(x, y, z, mSpeedRate) + (a ? a->offset() : Ogre::Vector3::ZERO);
}

void QuvorSimulator::resetFollowCamera()
{
    mFollow.reset();
    followedPlacement().mLastWorld = Ogre::Vector3::ZERO;
    followedPlacement().mSceneTarget = Ogre::Vector3::ZERO;
}

namespace {
const ViewState kNoView;
const FlightSnapshot kNoSnapshot;
const QMap<QString, QString> kNoValues;
const QStringList kNoOrder;
const QList<Ogre::Vector3> kNoPoints;
} // namespace

QuvorModel* QuvorSimulator::currentModel() const
{
    const AircraftScene* scene = sceneOf(mFleet.followed());
    return scene ? scene->model() : nullptr;
}

const ViewState& QuvorSimulator::viewState() const
{
    return mFleet.followed() ? mFleet.followed()->viewState() : kNoView;
}

const FlightSnapshot& QuvorSimulator::snapshot() const
{
    return mFleet.followed() ? mFleet.followed()->snapshot() : kNoSnapshot;
}

bool QuvorSimulator::playbackEnabled() const { return mFleet.followed() && mFleet.followed()->playbackEnabled(); }

ScenePlacement& QuvorSimulator::followedPlacement()
{
    return mFleet.followed() ? mFleet.followed()->placement() : mWaitingPlacement;
}

const ScenePlacement& QuvorSimulator::placement() const
{
    return mFleet.followed() ? mFleet.followed()->placement() : mWaitingPlacement;
}

const QMap<QString, QString>& QuvorSimulator::paramValues() const
{
    return mFleet.followed() ? mFleet.followed()->paramValues() : kNoValues;
}

const QStringList& QuvorSimulator::paramOrder() const
{
    return mFleet.followed() ? mFleet.followed()->paramOrder() : kNoOrder;
}

const QList<Ogre::Vector3>& QuvorSimulator::tracePoints() const
{
    const AircraftScene* scene = sceneOf(mFleet.followed());
    return scene ? scene->tracePoints() : kNoPoints;
}

void QuvorSimulator::appendTracePoint(const Ogre::Vector3& p)
{
    AircraftScene* scene = sceneOf(mFleet.followed());
    if (scene && scene->appendTracePoint(p))
        requestFrame();
}

void QuvorSimulator::clearTracePoints()
{
    AircraftScene* scene = sceneOf(mFleet.followed());
    if (scene && scene->clearTracePoints())
        requestFrame();
}

bool QuvorSimulator::isRunning() const
{
    for (const auto& a : mFleet.aircraft())
        if (a->running())
            return true;
    return false;
}

Ogre::Vector3 QuvorSimulator::followTarget() const
{
    const Aircraft* a = mFleet.followed();
    return placement().mSceneTarget + (a ? a->offset() : Ogre::Vector3::ZERO);
}

void QuvorSimulator::createScene()
{
    mSceneMgr->setAmbientLight(Ogre::ColourValue(0.7f, 0.7f, 0.7f, 1));
    mSceneMgr->setShadowTechnique(Ogre::SHADOWTYPE_TEXTURE_MODULATIVE);
    mSceneMgr->setSkyDome(true, "Examples/CloudySky", 10, 8, 4000, true, Ogre::Quaternion::IDENTITY, 16, 16, -1,
                          Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME);

    // One grass tile per 512 units.
    Ogre::Plane plane(Ogre::Vector3::UNIT_Y, 0);
    Ogre::MeshManager::getSingleton().createPlane("floor", Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME,
                                                  plane, 100000, 100000, 100, 100, true, 1, 195.3125f, 195.3125f,
                                                  Ogre::Vector3::UNIT_Z, Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY,
                                                  Ogre::HardwareBuffer::HBU_STATIC_WRITE_ONLY, true, true);
    Ogre::Entity* floor = mSceneMgr->createEntity("Floor", "floor");
    floor->setMaterialName("Examples/GrassFloor");
    floor->setCastShadows(false);
    mSceneMgr->getRootSceneNode()->attachObject(floor);
    mTiledFloor = std::make_unique<TiledFloor>(mSceneMgr, floor, mCamera);

    // Until the first sender, the view shows the first aircraft's model at its place.
    mWaitingScene = std::make_unique<AircraftScene>(mSceneMgr, 0, mContextName);
    for (const auto& a : mFleet.aircraft())
        ensureScene(*a);
    if (mScenes.empty())
        selectModel(nullptr);

    Ogre::Light* light = mSceneMgr->createLight("Light1");
    light->setType(Ogre::Light::LT_DIRECTIONAL);
    // OGRE 1.12 takes a light's direction from its node.
    Ogre::SceneNode* lightNode = mSceneMgr->getRootSceneNode()->createChildSceneNode("Light1Node");
    lightNode->attachObject(light);
    lightNode->setDirection(Ogre::Vector3(0.57735f, -0.57735f, -0.57735f), Ogre::Node::TS_WORLD);

    // Materials without a "glow" technique render black in the glow pass; registered
    // once per process for every scheme.
    static GlowMaterialListener* glowListener = nullptr;
    if (!glowListener) {
        glowListener = new GlowMaterialListener();
        Ogre::MaterialManager::getSingleton().addListener(glowListener);
    }
    Ogre::CompositorManager& compositors = Ogre::CompositorManager::getSingleton();
    if (Ogre::CompositorInstance* glow = compositors.addCompositor(mViewport, "Glow", -1)) {
        mGlowArea = std::make_unique<GlowArea>(mCamera, glow, [this] { requestFrame(); });
        if (QuvorModel* model = currentModel())
            mGlowArea->setSource(model->bodyNode());
        glow->addListener(mGlowArea.get());
        compositors.setCompositorEnabled(mViewport, "Glow", true);
    }

    mTrayMgr->hideCursor();

    mFollow.reset();
    mCameraNode->setPosition(FollowCamera::HomePosition);
    mCameraNode->pitch(Ogre::Degree(-50));
}

void QuvorSimulator::selectModel() { selectModel(mFleet.followed()); }

void QuvorSimulator::releaseModel() { releaseModel(mFleet.followed()); }

void QuvorSimulator::selectModel(Aircraft* aircraft)
{
    // States may arrive while OGRE failed to start: there is no scene to build in.
    if (!mSceneMgr || !mCameraMan || !mCameraNode)
        return;
    AircraftScene* scene = sceneOf(aircraft);
    if (!scene)
        return;
    QuvorModel* model = scene->showModel(aircraft ? aircraft->viewState().productType : 0);
    if (aircraft && !followed(aircraft)) {
        requestFrame();
        return;
    }
    // The camera man does not turn the camera toward its target by itself.
    mCameraMan->setTarget(model->bodyNode());
    mCameraNode->setAutoTracking(!mOverview, model->bodyNode());
    if (mGlowArea)
        mGlowArea->setSource(model->bodyNode());

    resetFollowCamera();
    mCameraNode->setPosition(FollowCamera::HomePosition);
    mCameraNode->setOrientation(Ogre::Quaternion::IDENTITY);
    mCameraNode->pitch(Ogre::Degree(-50));
    requestFrame();
}

void QuvorSimulator::releaseModel(Aircraft* aircraft)
{
    AircraftScene* scene = sceneOf(aircraft);
    if (!aircraft || followed(aircraft)) {
        // The body node goes away with the scene; the camera must not keep tracking it.
        if (mCameraMan)
            mCameraMan->setTarget(nullptr);
        if (mCameraNode)
            mCameraNode->setAutoTracking(false);
        if (mGlowArea)
            mGlowArea->setSource(nullptr);
    }
    if (scene)
        scene->releaseModel();
    requestFrame();
}

void QuvorSimulator::followChanged()
{
    const Aircraft* a = mFleet.followed();
    QuvorModel* model = currentModel();
    if (mCameraMan && mCameraNode && model) {
        mCameraMan->setTarget(model->bodyNode());
        mCameraNode->setAutoTracking(!mOverview, model->bodyNode());
        if (mGlowArea)
            mGlowArea->setSource(model->bodyNode());
    }
    // The follow camera flies over from where it is; a fixed camera is aimed again.
    if (mFollow.mFollowState == FollowCamera::Hold && a && mFleet.size() > 1)
        mFollow.mFollowState = FollowCamera::Closing;
    mFixedAim = FixedCameraAim();
    updateFleetLooks();
    requestFrame();
}

void QuvorSimulator::followNext(int steps)
{
    if (mFleet.size() < 2)
        return;
    mFleet.followNext(steps);
    mOverview = false;
    followChanged();
}

void QuvorSimulator::follow(const Aircraft* aircraft)
{
    mFleet.follow(aircraft);
    mOverview = false;
    followChanged();
}

void QuvorSimulator::setOverview(bool on)
{
    const bool was = mOverview;
    mOverview = on && mFleet.size() > 0;
    // The camera tracks the followed body by itself: not while it shows them all.
    if (mOverview && mCameraNode)
        mCameraNode->setAutoTracking(false);
    else if (was && !mOverview)
        followChanged();
    requestFrame();
}

void QuvorSimulator::updateFleetLooks()
{
    const bool many = mFleet.size() > 1;
    for (const auto& a : mFleet.aircraft()) {
        AircraftScene* scene = sceneOf(a.get());
        if (!scene)
            continue;
        scene->setLabel(a->label());
        scene->setLabelVisible(many);
        scene->setDimmed(!a->running() && !followed(a.get()));
    }
    requestFrame();
}

bool QuvorSimulator::frameStarted(const Ogre::FrameEvent& evt)
{
    OgreWidget::frameStarted(evt);
    auto animate = [this](AircraftScene* scene) {
        if (QuvorModel* model = scene ? scene->model() : nullptr) {
            // Real time since the last frame, not counting idle ticks (see FramePacer).
            model->addTime(mAnimationStep);
            model->checkLowering();
            model->checkRaising();
        }
    };
    animate(mWaitingScene.get());
    for (auto& scene : mScenes)
        animate(scene.second.get());
    return true;
}

bool QuvorSimulator::frameRenderingQueued(const Ogre::FrameEvent& evt)
{
    OgreWidget::frameRenderingQueued(evt);
    poseAircraft();
    // Panels are brought up to date here, before the follow camera moves.
    if (mPanels->update(mTrayMgr, paramValues(), paramOrder(), playbackEnabled(), viewState().timeMs))
        requestFrame();
    std::vector<FleetRow> rows;
    if (mFleet.size() > 1) {
        for (const auto& a : mFleet.aircraft())
            rows.push_back({QString::number(a->number()) + ' ' + a->label(),
                            QString::number(a->viewState().z, 'f', 1) + " m", a->status(), followed(a.get())});
    }
    mPanels->updateFleet(mTrayMgr, rows);
    mFollowMoving = mFollow.step(followTarget(), mSpeedRate, mAnimationStep);
    return true;
}

bool QuvorSimulator::frameDrawn()
{
    bool changed = false;
    for (auto& scene : mScenes) {
        changed = scene.second->updateTrace(mTraceVisible) || changed;
        if (mFleet.size() > 1)
            scene.second->updateLabel(mCamera, mViewport);
    }
    if (mWaitingScene)
        changed = mWaitingScene->updateTrace(mTraceVisible) || changed;
    return changed;
}

bool QuvorSimulator::ShownState::operator==(const ShownState& o) const
{
    // Bit for bit, so that a repeated non-finite value counts as unchanged.
    auto same = [](const auto& a, const auto& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    if (views.size() != o.views.size() || followed != o.followed || playback != o.playback || values != o.values)
        return false;
    for (size_t i = 0; i < views.size(); ++i) {
        const ViewState& v = views[i];
        const ViewState& w = o.views[i];
        if (!(same(v.x, w.x) && same(v.y, w.y) && same(v.z, w.z) && same(v.roll, w.roll) && same(v.pitch, w.pitch) &&
              same(v.yaw, w.yaw) && v.productType == w.productType && (!playback || v.timeMs == w.timeMs)))
            return false;
    }
    return true;
}

QuvorSimulator::ShownState QuvorSimulator::shownState() const
{
    ShownState shown;
    shown.views.reserve(size_t(mFleet.size()));
    for (int i = 0; i < mFleet.size(); ++i) {
        shown.views.push_back(mFleet.at(i)->viewState());
        if (mFleet.at(i) == mFleet.followed())
            shown.followed = i;
    }
    shown.playback = playbackEnabled();
    shown.values = paramValues();
    return shown;
}

void QuvorSimulator::frameBegins() { mShown = shownState(); }

bool QuvorSimulator::sceneChanging()
{
    const bool movable = gConfigDialog && gConfigDialog->mCameraMovable;
    return OgreWidget::sceneChanging() || (movable && mFollowMoving) || mOverview || !(shownState() == mShown);
}

void QuvorSimulator::poseAircraft()
{
    if (mFleet.size() == 0) {
        if (mWaitingScene) {
            const ViewState& v = kNoView;
            mWaitingScene->pose(v.roll, v.pitch, v.yaw, mWaitingPlacement.worldToScene(v.x, v.y, v.z, mSpeedRate));
        }
        return;
    }
    for (const auto& a : mFleet.aircraft()) {
        AircraftScene* scene = ensureScene(*a);
        const ViewState& v = a->viewState();
        const Ogre::Vector3 p = a->scenePosition(mSpeedRate);
        if (scene)
            scene->pose(v.roll, v.pitch, v.yaw, p);
    }
}

void QuvorSimulator::onCameraMove()
{
    if (!mInitialised)
        return;
    if (mOverview) {
        // Every aircraft in view: the camera backs off along its home direction
        // from their centre until the farthest one fits.
        Ogre::AxisAlignedBox box;
        for (const auto& a : mFleet.aircraft())
            box.merge(a->placement().mSceneTarget + a->offset());
        if (!box.isNull()) {
            const Ogre::Vector3 centre = box.getCenter();
            const Ogre::Vector3 half = box.getHalfSize();
            const float distance = std::max(FollowCamera::HomePosition.length(), half.length() * 2.6f + 800.0f);
            // From the home direction, or from the side when they stand in a row along it.
            Ogre::Vector3 from = FollowCamera::HomePosition.normalisedCopy();
            if (half.z > half.x)
                from = Ogre::Vector3(from.z, from.y, -from.x);
            mCameraNode->setPosition(centre + from * distance);
            mCameraNode->lookAt(centre, Ogre::Node::TS_WORLD);
        }
        return;
    }
    const bool movable = gConfigDialog && gConfigDialog->mCameraMovable;
    if (movable) {
        mCameraNode->setPosition(mFollow.mFollowCamPos);
        mCameraNode->lookAt(followTarget(), Ogre::Node::TS_WORLD);
    }
    if (mFixedAim.needsAim(movable)) {
        mCameraNode->lookAt(followTarget(), Ogre::Node::TS_WORLD);
        requestFrame();
    }
}

void QuvorSimulator::fillMenu(QMenu& menu)
{
    menu.addAction(mSetupAction);
    if (mFleet.size() < 2)
        return;
    QMenu* followMenu = menu.addMenu(tr("Follow"));
    for (const auto& a : mFleet.aircraft()) {
        QAction* item = followMenu->addAction(QStringLiteral("%1  %2").arg(QString::number(a->number()), a->label()));
        item->setCheckable(true);
        item->setChecked(followed(a.get()));
        // The aircraft may be gone by the time the item is chosen.
        const SenderKey key = a->key();
        connect(item, &QAction::triggered, this, [this, key] {
            if (const Aircraft* target = mFleet.find(key))
                follow(target);
        });
    }
}

bool QuvorSimulator::mousePressed(const OgreBites::MouseButtonEvent& evt, int id)
{
    if (id == OgreBites::BUTTON_RIGHT) {
        QMenu menu;
        fillMenu(menu);
        menu.exec(QCursor::pos());
    }
    return OgreWidget::mousePressed(evt, id);
}

bool QuvorSimulator::event(QEvent* event)
{
    // Tab and Shift+Tab pick the followed aircraft; Qt would move the focus instead.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            followNext(key->key() == Qt::Key_Tab ? 1 : -1);
            return true;
        }
    }
    return OgreWidget::event(event);
}

void QuvorSimulator::keyPressEvent(QKeyEvent* event)
{
    OgreWidget::keyPressEvent(event);
    if (event->key() == OverviewKey) {
        setOverview(!mOverview);
        return;
    }
    QuvorModel* model = currentModel();
    if (!model)
        return;
    Ogre::SceneNode* body = model->bodyNode();
    auto rotateGimbal = [model](float a, float b, float c) {
        if (Ogre::SceneNode* yaw = model->gimbalYawNode())
            yaw->roll(Ogre::Degree(a));
        if (Ogre::SceneNode* camera = model->cameraNode())
            camera->pitch(Ogre::Degree(b));
        if (Ogre::SceneNode* roll = model->gimbalRollNode())
            roll->yaw(Ogre::Degree(c));
    };
    switch (event->key()) {
    case Qt::Key_1: model->startMotors(); break;
    case Qt::Key_2:
        if (body)
            body->translate(0, -2, 0);
        break;
    case Qt::Key_3: model->raiseArms(); break;
    case Qt::Key_4:
        if (body)
            body->translate(-2, 0, 0);
        break;
    case Qt::Key_5: model->stopMotors(); break;
    case Qt::Key_6:
        if (body)
            body->translate(2, 0, 0);
        break;
    case Qt::Key_7: model->pauseTransform(); break;
    case Qt::Key_8:
        if (body)
            body->translate(0, 10, 0);
        break;
    case Qt::Key_9: model->lowerArms(); break;
    case Qt::Key_H: rotateGimbal(2, 0, 0); break;
    case Qt::Key_J: rotateGimbal(0, 2, 0); break;
    case Qt::Key_K: rotateGimbal(0, 0, 2); break;
    default: break;
    }
    requestFrame();
}
