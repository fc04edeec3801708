// Several senders in one real window: a model and a trace colour each, and the
// panels following the aircraft Tab picks.
#include "viewer/app/QuvorConfig.h"
#include "viewer/app/QuvorSimulator.h"
#include "viewer/app/ViewerApp.h"
#include "viewer/models/NerioModel.h"
#include "viewer/models/TavikModel.h"
#include "viewer/models/Vx7Model.h"
#include "viewer/view/AircraftScene.h"
#include "viewer/view/Panels.h"

#include "tests/viewer/xvfb/PixelWait.h"

#include <Bites/OgreTrays.h>
#include <OgreSceneNode.h>

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>

namespace {

using pixel_test::countPixels;
using pixel_test::linkOgreFiles;
using pixel_test::waitFor;

QApplication& app() { return pixel_test::testApplication("fleet_view_test"); }

using pixel_test::pump;

// Aircraft k (1 to 3) is product k, rolled 0.1 k, and starts 11 m north of the one before.
QByteArray datagram(int k, double x)
{
    return QStringLiteral(R"({"Roll":%1,"Pitch":0,"Yaw":0,"WorldX":%2,"WorldY":0,"WorldZ":1,)"
                          R"("WorldLatitude":%3,"WorldLongitude":113.954,"VelocityX":1,"VelocityY":0,)"
                          R"("VelocityZ":0,"Time":100,"TransformState":0,"MotorStarted":1,"FlyingState":1,)"
                          R"("ProductType":%4,"SenderIP":"10.0.0.%4","SimulatorCommand":1})")
        .arg(0.1 * k)
        .arg(x)
        .arg(22.537 + 0.0001 * (k - 1), 0, 'f', 4)
        .arg(k)
        .toUtf8();
}

// A pixel of the line drawn in `colour`: the lit line reads darker than its
// material, so hue and saturation tell it, not brightness.
bool ofColour(QRgb pixel, const Ogre::ColourValue& colour)
{
    const QColor want = QColor::fromRgbF(colour.r, colour.g, colour.b);
    const QColor got(pixel);
    const int dh = std::abs(got.hsvHue() - want.hsvHue());
    return got.hsvSaturation() > 150 && got.value() > 50 && std::min(dh, 360 - dh) < 14;
}

class FleetViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        app();
        linkOgreFiles();
        {
            QUdpSocket probe;
            probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
            port = probe.localPort();
        }
        settings = new QTemporaryDir();
        ViewerApp::Setup setup;
        setup.udpPort = port;
        setup.appDir = settings->path();
        viewer = new ViewerApp(app(), setup);
        window = viewer->window();
        dialog = viewer->dialog();
        for (auto& s : senders) {
            s = new QUdpSocket();
            s->bind(QHostAddress(QHostAddress::LocalHost), 0);
        }
        viewer->show();
        ASSERT_TRUE(waitFor([] { return window->isInitialised(); }, 20000));
    }
    static void TearDownTestSuite()
    {
        for (QUdpSocket* s : senders)
            delete s;
        delete viewer;
        delete settings;
    }

    // Every sender flies north along x, one state every 50 ms: a trace point each 300 ms.
    void fly(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            for (int k = 1; k <= 3; ++k)
                senders[k - 1]->writeDatagram(datagram(k, t.elapsed() / 500.0), QHostAddress::LocalHost, port);
            pump(50);
        }
    }
    std::string followedRoll() const
    {
        OgreBites::ParamsPanel* panel = window->panels()->paramsPanel();
        if (!panel)
            return std::string();
        const Ogre::StringVector names = panel->getAllParamNames();
        const Ogre::StringVector values = panel->getAllParamValues();
        for (size_t i = 0; i < names.size() && i < values.size(); ++i)
            if (names[i] == "Roll")
                return values[i];
        return std::string();
    }
    QImage frame()
    {
        window->requestFrame();
        pump(150); // a few paints bring the lines up to date
        return window->grabFrame();
    }

    static ViewerApp* viewer;
    static QuvorSimulator* window;
    static QuvorConfig* dialog;
    static QTemporaryDir* settings;
    static QUdpSocket* senders[3];
    static quint16 port;
};

ViewerApp* FleetViewTest::viewer = nullptr;
QuvorSimulator* FleetViewTest::window = nullptr;
QuvorConfig* FleetViewTest::dialog = nullptr;
QTemporaryDir* FleetViewTest::settings = nullptr;
QUdpSocket* FleetViewTest::senders[3] = {};
quint16 FleetViewTest::port = 0;
} // namespace

TEST_F(FleetViewTest, ThreeSendersAreThreeModelsWithATraceColourEach)
{
    fly(1800);
    ASSERT_EQ(window->fleet().size(), 3);
    std::set<Ogre::SceneNode*> bodies;
    std::vector<Ogre::Vector3> places;
    for (int i = 0; i < 3; ++i) {
        const Aircraft* a = window->fleet().at(i);
        AircraftScene* scene = window->sceneOf(a);
        ASSERT_NE(scene, nullptr);
        ASSERT_NE(scene->model(), nullptr);
        bodies.insert(scene->model()->bodyNode());
        places.push_back(scene->model()->bodyNode()->_getDerivedPosition());
        EXPECT_GE(scene->tracePoints().size(), 2) << "aircraft " << a->number();
    }
    EXPECT_EQ(bodies.size(), 3u);
    EXPECT_NE(dynamic_cast<TavikModel*>(window->sceneOf(window->fleet().at(0))->model()), nullptr);
    EXPECT_NE(dynamic_cast<NerioModel*>(window->sceneOf(window->fleet().at(1))->model()), nullptr);
    EXPECT_NE(dynamic_cast<Vx7Model*>(window->sceneOf(window->fleet().at(2))->model()), nullptr);
    // 0.0001 degrees of latitude apart: 11 m north, 400 scene units a metre.
    EXPECT_NEAR(places[1].z - places[0].z, 400 * 11.12, 50);
    EXPECT_NEAR(places[2].z - places[1].z, 400 * 11.12, 50);
    ASSERT_NE(window->panels()->fleetPanel(), nullptr);
    EXPECT_EQ(window->panels()->fleetPanel()->getAllParamNames().size(), 3u);

    // Every aircraft in view; each trace shows in its own colour once traces are on.
    window->setOverview(true);
    auto* show = dialog->findChild<QCheckBox*>("checkBox_showTrace");
    if (show->isChecked())
        show->click();
    fly(300);
    const QImage off = frame();
    show->click();
    fly(900);
    const QImage on = frame();
    if (!qEnvironmentVariableIsEmpty("QUVOR_SCREENSHOT_DIR"))
        on.save(qEnvironmentVariable("QUVOR_SCREENSHOT_DIR") + "/fleet.png");
    for (int i = 0; i < 3; ++i) {
        const Ogre::ColourValue colour = AircraftScene::traceColour(i);
        auto match = [&](QRgb c) { return ofColour(c, colour); };
        EXPECT_GT(countPixels(on, match), countPixels(off, match) + 20) << "trace colour of aircraft " << i + 1;
    }
    show->click();
    window->setOverview(false);
}

TEST_F(FleetViewTest, TabAndShiftTabChangeTheFollowedAircraftAndItsPanel)
{
    fly(600);
    ASSERT_EQ(window->fleet().size(), 3);
    window->follow(window->fleet().at(0));
    fly(200);
    ASSERT_TRUE(waitFor([&] { return followedRoll() == "0.1000"; }, 5000)) << followedRoll();
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_EQ(window->fleet().followed(), window->fleet().at(1));
    fly(200);
    EXPECT_TRUE(waitFor([&] { return followedRoll() == "0.2000"; }, 5000)) << followedRoll();
    QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(window, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(window->fleet().followed(), window->fleet().at(2)) << "backwards round the end";
    fly(200);
    EXPECT_TRUE(waitFor([&] { return followedRoll() == "0.3000"; }, 5000)) << followedRoll();
    // The camera tracks the followed body.
    EXPECT_EQ(window->mCameraNode->getAutoTrackTarget(), window->currentModel()->bodyNode());
}
