// The line drawers and panels in a real window: the test process builds the
// program's window and dialog itself (so it can drive the dialog's hidden
// trajectory tab) and feeds the window datagrams over loopback UDP.
#include "viewer/app/QuvorConfig.h"
#include "viewer/app/QuvorSimulator.h"
#include "viewer/app/ViewerApp.h"
#include "viewer/models/QuvorModel.h"
#include "viewer/view/Panels.h"
#include "viewer/view/TiledFloor.h"

#include "tests/viewer/xvfb/PixelWait.h"
#include "tests/viewer/xvfb/ViewerProcess.h"

#include <Bites/OgreTrays.h>
#include <OgreCompositionPass.h>
#include <OgreCompositionTargetPass.h>
#include <OgreCompositionTechnique.h>
#include <OgreCompositorChain.h>
#include <OgreCompositorInstance.h>
#include <OgreCompositorManager.h>
#include <OgreMaterialManager.h>
#include <OgrePass.h>
#include <OgreTechnique.h>
#include <OgreTextureUnitState.h>
#include <OgreSceneNode.h>

#include <QApplication>
#include <QCheckBox>
#include <QPalette>
#include <QWidget>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using pixel_test::countPixels;
using pixel_test::linkOgreFiles;
using pixel_test::waitFor;

QApplication& app() { return pixel_test::testApplication("lines_panels_test"); }

using pixel_test::pump;

bool pureBlue(QRgb c) { return qBlue(c) > 180 && qRed(c) < 60 && qGreen(c) < 60; }

// The lit line reads darker than its material; the aircraft's own red lamps
// are a fixed handful of pixels, so tests compare against a baseline.
bool pureRed(QRgb c) { return qRed(c) > 100 && qGreen(c) < 70 && qBlue(c) < 70 && qRed(c) > 2 * qGreen(c); }

QByteArray datagram(double x, double y, int time, bool playback = false)
{
    QString text = QStringLiteral(R"({"Roll":0.1,"Pitch":-0.2,"Yaw":0,"WorldX":%1,"WorldY":%2,"WorldZ":0.5,)"
                                  R"("VelocityX":1.5,"VelocityY":0,"VelocityZ":0,"Time":%3,)"
                                  R"("TransformState":0,"MotorStarted":0,"FlyingState":1,"ProductType":1,)"
                                  R"("SenderIP":"127.0.0.1","SimulatorCommand":1)")
                       .arg(x)
                       .arg(y)
                       .arg(time);
    if (playback)
        text += R"(,"PlayBackEnabled":1)";
    return (text + "}").toUtf8();
}

class LinesPanelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        app();
        linkOgreFiles();
        // One window for the whole suite: OGRE's root lives for the process.
        probe = new QUdpSocket();
        probe->bind(QHostAddress(QHostAddress::LocalHost), 0);
        port = probe->localPort();
        delete probe; // the window takes the port over (it binds with address sharing)
        sender = new QUdpSocket();
        settings = new QTemporaryDir();
        ViewerApp::Setup setup;
        setup.udpPort = port;
        setup.appDir = settings->path();
        viewer = new ViewerApp(app(), setup);
        window = viewer->window();
        dialog = viewer->dialog();
        // The follow camera keeps the aircraft, its trace and the path near the middle.
        dialog->findChild<QCheckBox*>("checkBox_cam")->click();
        viewer->show();
        ASSERT_TRUE(waitFor([] { return window->isInitialised(); }, 20000));
        pump(200);
    }
    static void TearDownTestSuite()
    {
        delete sender;
        delete viewer;
        delete settings;
    }

    // One socket for the suite: one sender, so every test flies the same aircraft.
    void send(const QByteArray& bytes) { sender->writeDatagram(bytes, QHostAddress::LocalHost, port); }

    // Flies along x, one state every 50 ms, so the trace gets a point every 300 ms.
    void fly(int ms, bool playback = false)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            send(datagram(t.elapsed() / 1000.0, 0.5 * t.elapsed() / 1000.0, 61234, playback));
            pump(50);
        }
    }

    // The camera left where the test puts it, and the aircraft landed with a model change on
    // the way (it clears the scene's other nodes, and the tiles must stay). Returns where it stands.
    Ogre::Vector3 landForComparison()
    {
        auto* follow = dialog->findChild<QCheckBox*>("checkBox_cam");
        if (follow->isChecked())
            follow->click();
        QByteArray landed = datagram(2, 1, 61234);
        landed.replace(R"("WorldZ":0.5)", R"("WorldZ":0.05)");
        QByteArray other = landed;
        other.replace(R"("ProductType":1)", R"("ProductType":2)");
        for (const QByteArray& bytes : {other, landed}) {
            for (int i = 0; i < 10; ++i) {
                send(bytes);
                pump(50);
            }
        }
        return window->currentModel()->bodyNode()->_getDerivedPosition();
    }
    // Close above the aircraft's shadow, from high up and from low over the ground.
    struct View {
        const char* name;
        Ogre::Vector3 offset;
    };
    const std::vector<View> kViews = {{"shadow", {300, 500, 300}}, {"high", {0, 9000, 4000}}, {"low", {0, 40, 900}}};
    void lookFrom(const Ogre::Vector3& aircraft, const View& view)
    {
        window->mCameraNode->setPosition(aircraft + view.offset);
        window->mCameraNode->lookAt(aircraft, Ogre::Node::TS_WORLD);
        window->requestFrame();
    }
    // Pixels (of those `count` accepts in a) that differ from b by more than 12 levels in a channel.
    static int differing(const QImage& a, const QImage& b, int& counted, bool (*count)(QRgb) = nullptr)
    {
        int n = 0;
        counted = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                if (count && !count(p))
                    continue;
                ++counted;
                const int d = std::max(
                    {std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
                n += d > 12 ? 1 : 0;
            }
        }
        return n;
    }

    QImage frame()
    {
        pump(100); // a few paints bring the lines up to date
        return window->grabFrame();
    }
    void save(const QImage& image, const char* name)
    {
        const QString dir = QString::fromLocal8Bit(qgetenv("QUVOR_SCREENSHOT_DIR"));
        if (!dir.isEmpty())
            image.save(dir + "/" + name);
    }

    static ViewerApp* viewer;
    static QuvorSimulator* window;
    static QuvorConfig* dialog;
    static QTemporaryDir* settings;
    static QUdpSocket* probe;
    static quint16 port;
    static QUdpSocket* sender;
};

ViewerApp* LinesPanelsTest::viewer = nullptr;
QuvorSimulator* LinesPanelsTest::window = nullptr;
QuvorConfig* LinesPanelsTest::dialog = nullptr;
QTemporaryDir* LinesPanelsTest::settings = nullptr;
QUdpSocket* LinesPanelsTest::probe = nullptr;
QUdpSocket* LinesPanelsTest::sender = nullptr;
quint16 LinesPanelsTest::port = 0;

TEST_F(LinesPanelsTest, TraceAppearsWithShowTraceAndVanishesWithout)
{
    auto* show = dialog->findChild<QCheckBox*>("checkBox_showTrace");
    ASSERT_FALSE(show->isChecked());
    fly(1500);
    ASSERT_GE(window->tracePoints().size(), 2);
    EXPECT_EQ(countPixels(frame(), pureBlue), 0);

    show->click();
    ASSERT_TRUE(dialog->m_show);
    fly(600);
    const QImage on = frame();
    save(on, "trace_on.png");
    EXPECT_GT(countPixels(on, pureBlue), 20);

    show->click();
    const QImage off = frame();
    save(off, "trace_off.png");
    EXPECT_EQ(countPixels(off, pureBlue), 0);
}

TEST_F(LinesPanelsTest, TrajectoryAppearsAfterConfirm)
{
    const int baseline = countPixels(frame(), pureRed);
    QStandardItemModel* model = dialog->mTrajModel;
    model->removeRows(0, model->rowCount());
    const QStringList rows[] = {
        {"-2", "0", "0.5", "0.5", "0.05"}, {"2", "0", "0.5", "0.5", "0.05"}, {"2", "2", "1", "0", "0.05"}};
    for (const QStringList& cells : rows) {
        QList<QStandardItem*> items;
        for (const QString& c : cells)
            items.append(new QStandardItem(c));
        model->appendRow(items);
    }
    dialog->findChild<QPushButton*>("Confirm")->click();
    const QImage shown = frame();
    save(shown, "trajectory.png");
    EXPECT_GT(countPixels(shown, pureRed), baseline + 100);

    dialog->findChild<QPushButton*>("Clear_Traj")->click();
    EXPECT_LE(countPixels(frame(), pureRed), baseline + 5);
}

TEST_F(LinesPanelsTest, PanelsShowTheReceivedValuesAndTheReplayTime)
{
    fly(300, true);
    const QImage shown = frame();
    save(shown, "panels.png");
    ParamsOverlay* panels = window->panels();
    ASSERT_NE(panels->paramsPanel(), nullptr);
    const Ogre::StringVector names = panels->paramsPanel()->getAllParamNames();
    const Ogre::StringVector values = panels->paramsPanel()->getAllParamValues();
    ASSERT_EQ(names.size(), values.size());
    std::map<std::string, std::string> shownValues;
    for (size_t i = 0; i < names.size(); ++i)
        shownValues[names[i]] = values[i];
    EXPECT_EQ(shownValues["Roll"], "0.1000");
    EXPECT_EQ(shownValues["Pitch"], "-0.2000");
    EXPECT_EQ(shownValues["VelocityX"], "1.5000");
    EXPECT_EQ(shownValues.count("AccX"), 0u); // absent keys get no row
    EXPECT_TRUE(panels->paramsPanel()->isVisible());

    ASSERT_NE(panels->statusPanel(), nullptr);
    EXPECT_EQ(panels->statusPanel()->getAllParamValues(), Ogre::StringVector({"on", "1:01.234"}));
    EXPECT_EQ(panels->statusPanel()->getTrayLocation(), OgreBites::TL_TOPRIGHT);
    EXPECT_EQ(panels->paramsPanel()->getTrayLocation(), OgreBites::TL_BOTTOMLEFT);
}

TEST_F(LinesPanelsTest, StatesThatCannotBeDrawnLeaveTheSceneAsItWas)
{
    fly(700);
    ASSERT_NE(window->currentModel(), nullptr);
    Ogre::SceneNode* body = window->currentModel()->bodyNode();
    frame();
    const Ogre::Vector3 before = body->getPosition();
    const Ogre::Quaternion turned = body->getOrientation();
    const int tracePoints = window->tracePoints().size();

    for (const char* bad : {R"("WorldX":1e400)", R"("WorldY":"NaN")", R"("WorldZ":"-inf")", R"("Yaw":"inf")",
                            R"("Roll":"nan")", R"("WorldX":1e+38)", R"("WorldZ":30000)"}) {
        SCOPED_TRACE(bad);
        QByteArray bytes = datagram(0.5, 0.5, 61234);
        bytes.replace(R"("FlyingState":1)", bad);
        // Enough states and frames for a trace point and several poses.
        for (int i = 0; i < 8; ++i) {
            window->handleDatagram(bytes, "127.0.0.1", sender->localPort()); // as if from the sender
            pump(50);
        }
        int frames = 0;
        const auto counter = QObject::connect(window, &OgreWidget::frameRendered, [&] { ++frames; });
        // Ignored states change nothing on screen, so the frames are asked for.
        EXPECT_TRUE(waitFor(
            [&] {
                window->requestFrame();
                return frames >= 3;
            },
            20000))
            << "still rendering";
        QObject::disconnect(counter);
        EXPECT_EQ(body->getPosition(), before);
        EXPECT_EQ(body->getOrientation(), turned);
    }
    EXPECT_EQ(window->tracePoints().size(), tracePoints);
    for (const Ogre::Vector3& p : window->tracePoints())
        EXPECT_FALSE(p.isNaN());
    EXPECT_FALSE(window->placement().mSceneTarget.isNaN());
}

bool isSky(QRgb c) // blue sky or white cloud
{
    return qBlue(c) > 150 && qBlue(c) >= qGreen(c) && qBlue(c) >= qRed(c);
}

bool isGrass(QRgb c) { return qGreen(c) > qRed(c) + 30 && qGreen(c) > qBlue(c) + 30; }

bool isMagenta(QRgb c) { return qRed(c) > 200 && qBlue(c) > 200 && qGreen(c) < 60; }

// What the X server shows where the window is (whatever window is on top): unlike
// grabFrame, this draws nothing itself.
QImage onScreen(QWidget* w)
{
    const QPoint at = w->mapToGlobal(QPoint(0, 0));
    return viewer_test::grabWindow("root").copy(QRect(at, w->size()));
}

// Sky along the top, grass along the bottom, nothing left of a cover.
void expectScene(const QImage& image, const QSize& size)
{
    ASSERT_EQ(image.size(), size);
    const int w = image.width(), h = image.height();
    EXPECT_GT(countPixels(image, QRect(0, 0, w, h / 10), isSky), w * h / 10 * 9 / 10);
    EXPECT_GT(countPixels(image, QRect(w / 3, h * 9 / 10, w * 2 / 3, h / 10), isGrass), w * 2 / 3 * h / 10 * 9 / 10);
    EXPECT_EQ(countPixels(image, isMagenta), 0);
}

TEST_F(LinesPanelsTest, AnIdleWindowStillRepaintsWhenUncoveredResizedOrReconfigured)
{
    auto* show = dialog->findChild<QCheckBox*>("checkBox_showTrace");
    if (show->isChecked())
        show->click();
    fly(1500);
    // The same state again and again keeps the run alive and changes nothing on screen.
    const QByteArray still = datagram(1.5, 0.75, 61234);
    auto streamUntil = [&](const std::function<bool()>& done, int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > timeoutMs)
                return false;
            send(still);
            pump(100);
        }
        return true;
    };
    const FramePacer& pacer = window->pacer();
    ASSERT_TRUE(streamUntil([&] { return pacer.idleTicks() >= 25; }, 30000)) << "the view never went idle";
    qint64 frames = pacer.framesDrawn();
    const qint64 skipped = pacer.ticksSkipped();
    ASSERT_TRUE(streamUntil([&] { return pacer.ticksSkipped() >= skipped + 50; }, 30000));
    EXPECT_EQ(pacer.framesDrawn(), frames) << "identical states drew frames";

    // Covered by another window, then uncovered: the window system asks for the picture again.
    QWidget cover;
    cover.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::magenta);
    cover.setPalette(palette);
    cover.setAutoFillBackground(true);
    cover.setGeometry(window->geometry());
    cover.show();
    cover.raise();
    ASSERT_TRUE(waitFor([&] { return countPixels(onScreen(window), isMagenta) > 400 * 300; }, 20000))
        << "the cover never showed over the window";
    frames = pacer.framesDrawn();
    cover.hide();
    ASSERT_TRUE(waitFor([&] { return pacer.framesDrawn() > frames; }, 20000)) << "no frame after the expose";
    waitFor([&] { return countPixels(onScreen(window), isMagenta) == 0; }, 10000);
    expectScene(onScreen(window), window->size());

    // Resized while idle.
    const QSize before = window->size();
    frames = pacer.framesDrawn();
    window->resize(before + QSize(160, 120));
    ASSERT_TRUE(
        waitFor([&] { return pacer.framesDrawn() > frames && onScreen(window).size() == window->size(); }, 20000));
    pump(200);
    expectScene(onScreen(window), before + QSize(160, 120));
    window->resize(before);

    // A settings change while idle: the trace that was collected hidden appears.
    ASSERT_GE(window->tracePoints().size(), 2);
    ASSERT_TRUE(streamUntil([&] { return pacer.idleTicks() >= 25; }, 30000));
    EXPECT_EQ(countPixels(onScreen(window), pureBlue), 0);
    show->click();
    EXPECT_TRUE(streamUntil([&] { return countPixels(onScreen(window), pureBlue) > 20; }, 20000))
        << "the trace did not appear on screen";
    show->click();
}

// The floor drawn through its tiles against the whole floor entity, from close
// above the aircraft's shadow, from high up and from low over the ground: the
// grass, shadow included, gets the same pixels.
TEST_F(LinesPanelsTest, TheTiledFloorDrawsTheSamePixelsAsTheWholeFloor)
{
    TiledFloor* floor = window->tiledFloor();
    ASSERT_NE(floor, nullptr);
    ASSERT_TRUE(floor->enabled());
    const Ogre::Vector3 aircraft = landForComparison();
    for (const View& view : kViews) {
        SCOPED_TRACE(view.name);
        lookFrom(aircraft, view);
        const QImage tiled = frame();
        const int detailed = floor->detailedTiles();
        floor->setEnabled(false);
        window->requestFrame();
        const QImage whole = frame();
        floor->setEnabled(true);
        window->requestFrame();
        save(tiled, (std::string("floor_tiled_") + view.name + ".png").c_str());
        save(whole, (std::string("floor_whole_") + view.name + ".png").c_str());

        EXPECT_LT(detailed, 25) << "most tiles drawn with two triangles";
        ASSERT_EQ(tiled.size(), whole.size());
        int grass = 0;
        const int differ = differing(whole, tiled, grass, isGrass);
        EXPECT_GT(grass, whole.width() * whole.height() / 10);
        EXPECT_LT(differ, grass / 500) << differ << " of " << grass << " grass pixels differ";
    }
    dialog->findChild<QCheckBox*>("checkBox_cam")->click();
}

// The glow's scene pass leaves out the sky (black there, behind everything that glows):
// against the pass that draws it, the whole frame gets the same pixels from the same views.
TEST_F(LinesPanelsTest, TheGlowPassWithoutTheSkyGivesTheSameFrame)
{
    const Ogre::Vector3 aircraft = landForComparison();
    Ogre::CompositorChain* chain = Ogre::CompositorManager::getSingleton().getCompositorChain(window->mViewport);
    ASSERT_NE(chain, nullptr);
    auto glowDrawsSky = [&](bool sky) {
        for (Ogre::CompositionTargetPass* target : chain->getCompositor("Glow")->getTechnique()->getTargetPasses())
            for (Ogre::CompositionPass* pass : target->getPasses())
                if (pass->getType() == Ogre::CompositionPass::PT_RENDERSCENE)
                    pass->setFirstRenderQueue(sky ? Ogre::RENDER_QUEUE_BACKGROUND : Ogre::RENDER_QUEUE_1);
        chain->_markDirty();
        window->requestFrame();
    };
    // The clouds drift with time: held still while the two frames are taken.
    Ogre::TextureUnitState* clouds = Ogre::MaterialManager::getSingleton()
                                         .getByName("Examples/CloudySky")
                                         ->getTechnique(0)
                                         ->getPass(0)
                                         ->getTextureUnitState(0);
    clouds->removeAllEffects();
    for (const View& view : kViews) {
        SCOPED_TRACE(view.name);
        lookFrom(aircraft, view);
        const QImage without = frame();
        glowDrawsSky(true);
        const QImage with = frame();
        glowDrawsSky(false);
        save(without, (std::string("glow_nosky_") + view.name + ".png").c_str());
        save(with, (std::string("glow_sky_") + view.name + ".png").c_str());

        ASSERT_EQ(with.size(), without.size());
        int pixels = 0;
        const int differ = differing(with, without, pixels);
        EXPECT_LT(differ, pixels / 500) << differ << " of " << pixels << " pixels differ";
    }
    clouds->setScrollAnimation(0.004f, 0.001f);
    dialog->findChild<QCheckBox*>("checkBox_cam")->click();
}

} // namespace
