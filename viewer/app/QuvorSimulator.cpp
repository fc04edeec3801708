#include "viewer/app/QuvorSimulator.h"

#include "viewer/app/QuvorConfig.h"
#include "common/Angles.h"
#include "common/AppDirs.h"
#include "common/ProductType.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/QuvorModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"
#include "ui_QuvorSimulatorUI.h"
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
      mFilter(localIPv4Addresses())
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
    mParamValues.clear();
    mParamOrder.clear();

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
    delete mTavik;
    delete mNerio;
    delete mVx7;
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
            qWarning("The UDP receive buffer holds %d bytes, less than the %d for half a second of states at "
                     "1000 a second: the system's limit allows no more (sysctl -w net.core.rmem_max=%d raises it).",
                     buffer, ReceiveDrops::kNeededBufferBytes, ReceiveDrops::kNeededBufferBytes);
        if (const std::optional<uint32_t> dropped = ReceiveDrops::droppedSoFar(fd)) {
            mDrops = std::make_unique<ReceiveDrops::Report>(mUdpSocket->localPort());
            mDrops->update(*dropped, processMs());
            mDropTimer = std::make_unique<QTimer>();
            mDropTimer->setSingleShot(true);
            mDropTimer->setInterval(int(ReceiveDrops::Report::kQuietMs));
            connect(mDropTimer.get(), &QTimer::timeout, this, &QuvorSimulator::checkDrops);
        }
        if (shared)
            qWarning("Another program already listens on UDP port %u; only one of them will receive the "
                     "datagrams sent to this machine unless the host broadcasts.",
                     unsigned(port));
        return;
    }
    const QString reason = mUdpSocket->errorString();
    delete mUdpSocket;
    mUdpSocket = nullptr;
    if (consoleErrors) {
        qWarning("Failed to open UDP receiver on port %u: %s", unsigned(port), qPrintable(reason));
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
        const qint64 size = mUdpSocket->readDatagram(datagram.data(), datagram.size());
        if (size < 0)
            continue;
        datagram.resize(int(size));
        handleDatagram(datagram);
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
        qWarning("%s", qPrintable(line));
    if (mDrops->pending() && !mDropTimer->isActive())
        mDropTimer->start();
}

void QuvorSimulator::handleDatagram(const QByteArray& datagram)
{
    const std::optional<StateDatagram::State> state = StateDatagram::decode(datagram);
    if (!state)
        return;
    if (!mFilter.accept(*state, gConfigDialog && gConfigDialog->mCheckIP))
        return;
    const FlightSnapshot next = readSnapshot(*state);
    if (showable(*state, next)) {
        mSnapshot = next;
        buildParamValues(state->keys, mSnapshot, mParamValues, mParamOrder);
        mNewState = true;
        emit updateUI();
    } else {
        // The view keeps the last good state; the sender is still alive, so the run goes on.
        if (!mBadStateWarned)
            qWarning("Ignoring flight states with a value that is not finite or lies too far away to be "
                     "drawn (said once per run).");
        mBadStateWarned = true;
        emit startRun();
    }
    if (gConfigDialog && gConfigDialog->m_udp_save)
        mRecorder.writeDatagram(datagram);
}

bool QuvorSimulator::showable(const StateDatagram::State& state, const FlightSnapshot& s) const
{
    if (!state.finite)
        return false;
    // The trace point is placed before a new run counter resets the origin, the pose after.
    const bool newOrigin = mTriggers.simulatorCommandDiffers(s.SimulatorCommand);
    return mPlacement.staysInside(s.WorldX, s.WorldY, s.WorldZ, mSpeedRate, false) &&
        (!newOrigin || mPlacement.staysInside(s.WorldX, s.WorldY, s.WorldZ, mSpeedRate, true));
}

void QuvorSimulator::onUpdateUI()
{
    if (mNewState)
        onSimState();
    mNewState = false;
}

void QuvorSimulator::onSimState()
{
    if (stateLock.tryLock()) {
        mViewState = toViewState(mSnapshot);

        if (mSnapshot.ProductType != mModelProductType) {
            mRenderTimer->stop();
            releaseModel();
            selectModel();
            destroyTrajDrawer();
            destroyTraceDrawer();
            markTrajDirty();
            mModelProductType = mSnapshot.ProductType;
            mRenderTimer->start();
        }

        if (mModel) {
            if (mSnapshot.MotorStarted)
                mModel->startMotors();
            else
                mModel->stopMotors();
        }
        const StateTriggers::Arms arms = mTriggers.transform(mSnapshot.TransformState);
        if (mModel && arms == StateTriggers::Arms::Raise)
            mModel->raiseArms();
        else if (mModel && arms == StateTriggers::Arms::Lower)
            mModel->lowerArms();

        if (gConfigDialog && gConfigDialog->m_save)
            mRecorder.writeTrace(mViewState.x, mViewState.y, mViewState.z);

        if (mTriggers.traceDue(processMs()))
            appendTracePoint(worldToScene(mViewState.x, mViewState.y, mViewState.z));

        if (mTriggers.simulatorCommandChanged(mSnapshot.SimulatorCommand)) {
            clearTracePoints();
            markTrajDirty();
            mPlacement.mOriginPending = true;
            resetFollowCamera();
        }
        stateLock.unlock();
    }
    emit startRun();
}

void QuvorSimulator::onRun()
{
    if (mRun.onState()) {
        mHeartbeatTimer->start();
        if (gConfigDialog)
            gConfigDialog->setSpeedEditable(false);
    }
}

void QuvorSimulator::onHeartBeat()
{
    if (mRun.onHeartBeat())
        endRun();
}

void QuvorSimulator::endRun()
{
    mHeartbeatTimer->stop();
    mRecorder.closeFiles();
    mBadStateWarned = false;
    clearTracePoints();
    mPlacement.reset(true);
    mViewState.roll = mViewState.pitch = mViewState.yaw = 0;
    mViewState.velX = mViewState.velY = mViewState.velZ = 0;
    mViewState.x = mViewState.y = mViewState.z = 0;
    releaseModel();
    selectModel();
    destroyTraceDrawer();
    destroyTrajDrawer();
    markTrajDirty();
    if (gConfigDialog)
        gConfigDialog->setSpeedEditable(true);
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
        mRecorder.refresh(gConfigDialog->mTraceDir, gConfigDialog->mUdpDir, gConfigDialog->mClearToggle,
                          [this] { clearTracePoints(); });
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
    return mPlacement.worldToScene(x, y, z, mSpeedRate);
}

void QuvorSimulator::resetFollowCamera()
{
    mFollow.reset();
    mPlacement.mLastWorld = Ogre::Vector3::ZERO;
    mPlacement.mSceneTarget = Ogre::Vector3::ZERO;
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

    selectModel();

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
        if (mModel)
            mGlowArea->setSource(mModel->bodyNode());
        glow->addListener(mGlowArea.get());
        compositors.setCompositorEnabled(mViewport, "Glow", true);
    }

    mTrayMgr->hideCursor();

    mFollow.reset();
    mCameraNode->setPosition(FollowCamera::HomePosition);
    mCameraNode->pitch(Ogre::Degree(-50));
}

void QuvorSimulator::selectModel()
{
    // States may arrive while OGRE failed to start: there is no scene to build in.
    if (!mSceneMgr || !mCameraMan || !mCameraNode)
        return;
    QuvorModel** slot = &mTavik;
    if (mViewState.productType == ProductNerio3)
        slot = &mNerio;
    else if (mViewState.productType == ProductVx7)
        slot = &mVx7;
    if (!*slot) {
        if (slot == &mNerio)
            *slot = new NerioModel(mSceneMgr);
        else if (slot == &mVx7)
            *slot = new Vx7Model(mSceneMgr);
        else
            *slot = new TavikModel(mSceneMgr);
    }
    mModel = *slot;
    mModel->createScene(mContextName);
    // The camera man does not turn the camera toward its target by itself.
    mCameraMan->setTarget(mModel->bodyNode());
    mCameraNode->setAutoTracking(true, mModel->bodyNode());
    if (mGlowArea)
        mGlowArea->setSource(mModel->bodyNode());
    mModel->createAnimations();
    mModel->setInitialPose();

    resetFollowCamera();
    mCameraNode->setPosition(FollowCamera::HomePosition);
    mCameraNode->setOrientation(Ogre::Quaternion::IDENTITY);
    mCameraNode->pitch(Ogre::Degree(-50));
    requestFrame();
}

void QuvorSimulator::releaseModel()
{
    QuvorModel* model = mTavik;
    if (mModelProductType == ProductNerio3)
        model = mNerio;
    else if (mModelProductType == ProductVx7)
        model = mVx7;
    // The body node goes away with the scene; the camera must not keep tracking it.
    if (mCameraMan)
        mCameraMan->setTarget(nullptr);
    if (mCameraNode)
        mCameraNode->setAutoTracking(false);
    if (mGlowArea)
        mGlowArea->setSource(nullptr);
    if (model) {
        model->destroyAnimations();
        model->destroyScene();
    }
    mModel = nullptr;
    requestFrame();
}

bool QuvorSimulator::frameStarted(const Ogre::FrameEvent& evt)
{
    OgreWidget::frameStarted(evt);
    if (mModel) {
        // Real time since the last frame, not counting idle ticks (see FramePacer).
        mModel->addTime(mAnimationStep);
        mModel->checkLowering();
        mModel->checkRaising();
    }
    return true;
}

bool QuvorSimulator::frameRenderingQueued(const Ogre::FrameEvent& evt)
{
    OgreWidget::frameRenderingQueued(evt);
    poseModel();
    // Panels are brought up to date here, before the follow camera moves.
    if (mPanels->update(mTrayMgr, mParamValues, mParamOrder, playbackEnabled(), mViewState.timeMs))
        requestFrame();
    mFollowMoving = mFollow.step(mPlacement.mSceneTarget, mSpeedRate, mAnimationStep);
    return true;
}

bool QuvorSimulator::ShownState::operator==(const ShownState& o) const
{
    // Bit for bit, so that a repeated non-finite value counts as unchanged.
    auto same = [](const auto& a, const auto& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    return same(view.x, o.view.x) && same(view.y, o.view.y) && same(view.z, o.view.z) && same(view.roll, o.view.roll) &&
        same(view.pitch, o.view.pitch) && same(view.yaw, o.view.yaw) && view.productType == o.view.productType &&
        playback == o.playback && (!playback || view.timeMs == o.view.timeMs) && values == o.values;
}

QuvorSimulator::ShownState QuvorSimulator::shownState() const
{
    return ShownState{mViewState, playbackEnabled(), mParamValues};
}

void QuvorSimulator::frameBegins() { mShown = shownState(); }

bool QuvorSimulator::sceneChanging()
{
    const bool movable = gConfigDialog && gConfigDialog->mCameraMovable;
    return OgreWidget::sceneChanging() || (movable && mFollowMoving) || !(shownState() == mShown);
}

void QuvorSimulator::poseModel()
{
    Ogre::Vector3 p = worldToScene(mViewState.x, mViewState.y, mViewState.z);
    const Ogre::Quaternion q = eulerToQuaternion(-mViewState.yaw * 180.0f / float(Pi), 0, 0);
    // A non-finite yaw fails this test and leaves the body where it was.
    if (!(std::abs(q.Norm() - 1) < 1e-6f) || !mModel)
        return;
    p.y += mModel->groundLift();
    Ogre::SceneNode* body = mModel->bodyNode();
    body->setOrientation(q);
    body->pitch(Ogre::Degree(90), Ogre::Node::TS_LOCAL);
    body->yaw(Ogre::Radian(mViewState.roll), Ogre::Node::TS_LOCAL);
    body->pitch(Ogre::Radian(-mViewState.pitch), Ogre::Node::TS_LOCAL);
    body->setPosition(p);
    if (mModel->facesBackward())
        body->rotate(Ogre::Vector3::UNIT_Y, Ogre::Radian(Ogre::Math::PI), Ogre::Node::TS_LOCAL);
}

void QuvorSimulator::onCameraMove()
{
    if (!mInitialised)
        return;
    const bool movable = gConfigDialog && gConfigDialog->mCameraMovable;
    if (movable) {
        mCameraNode->setPosition(mFollow.mFollowCamPos);
        mCameraNode->lookAt(mPlacement.mSceneTarget, Ogre::Node::TS_WORLD);
    }
    if (mFixedAim.needsAim(movable)) {
        mCameraNode->lookAt(mPlacement.mSceneTarget, Ogre::Node::TS_WORLD);
        requestFrame();
    }
}

bool QuvorSimulator::mousePressed(const OgreBites::MouseButtonEvent& evt, int id)
{
    if (id == OgreBites::BUTTON_RIGHT) {
        QMenu menu;
        menu.addAction(mSetupAction);
        menu.exec(QCursor::pos());
    }
    return OgreWidget::mousePressed(evt, id);
}

void QuvorSimulator::keyPressEvent(QKeyEvent* event)
{
    OgreWidget::keyPressEvent(event);
    if (!mModel)
        return;
    Ogre::SceneNode* body = mModel->bodyNode();
    auto rotateGimbal = [this](float a, float b, float c) {
        if (Ogre::SceneNode* yaw = mModel->gimbalYawNode())
            yaw->roll(Ogre::Degree(a));
        if (Ogre::SceneNode* camera = mModel->cameraNode())
            camera->pitch(Ogre::Degree(b));
        if (Ogre::SceneNode* roll = mModel->gimbalRollNode())
            roll->yaw(Ogre::Degree(c));
    };
    switch (event->key()) {
    case Qt::Key_1: mModel->startMotors(); break;
    case Qt::Key_2:
        if (body)
            body->translate(0, -2, 0);
        break;
    case Qt::Key_3: mModel->raiseArms(); break;
    case Qt::Key_4:
        if (body)
            body->translate(-2, 0, 0);
        break;
    case Qt::Key_5: mModel->stopMotors(); break;
    case Qt::Key_6:
        if (body)
            body->translate(2, 0, 0);
        break;
    case Qt::Key_7: mModel->pauseTransform(); break;
    case Qt::Key_8:
        if (body)
            body->translate(0, 10, 0);
        break;
    case Qt::Key_9: mModel->lowerArms(); break;
    case Qt::Key_H: rotateGimbal(2, 0, 0); break;
    case Qt::Key_J: rotateGimbal(0, 2, 0); break;
    case Qt::Key_K: rotateGimbal(0, 0, 2); break;
    default: break;
    }
    requestFrame();
}
