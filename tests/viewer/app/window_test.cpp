// The main window's receiver path without a 3D view (OGRE not started).
#include "app/QuvorSimulator.h"

#include <QApplication>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {
QApplication& app()
{
    static int argc = 1;
    static char name[] = "window_test";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}
} // namespace

TEST(MainWindow, StatesWithoutA3DViewAreHandledAndRunsEnd)
{
    app();
    QuvorSimulator window(nullptr, 0);
    ASSERT_TRUE(window.hasReceiver());
    EXPECT_EQ(gMainWindow, &window);

    // A product change while OGRE never started must not touch the missing scene.
    window.handleDatagram(R"({"Yaw":1.5,"WorldX":2,"ProductType":2,"MotorStarted":1,"TransformState":3,"SimulatorCommand":4})");
    window.handleDatagram(R"({"Yaw":1.5,"WorldX":2,"ProductType":3,"TransformState":2,"SimulatorCommand":4})");
    window.handleDatagram("not json");
    EXPECT_EQ(window.currentModel(), nullptr);
    EXPECT_FLOAT_EQ(window.viewState().yaw, 1.5f);
    EXPECT_EQ(window.viewState().productType, 3);
    EXPECT_EQ(window.mParamOrder, (QStringList{"Yaw", "WorldX"}));
    EXPECT_TRUE(window.isRunning());

    for (int i = 0; i < 5; ++i)
        window.onHeartBeat();
    EXPECT_TRUE(window.isRunning()) << "progress at the first heartbeat, then four silent ones";
    window.onHeartBeat();
    EXPECT_FALSE(window.isRunning());
    EXPECT_EQ(window.viewState().yaw, 0.0f) << "the end of a run zeroes the pose";
    EXPECT_EQ(window.viewState().x, 0.0);
}

TEST(MainWindow, DatagramsArriveOverUdp)
{
    app();
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0)));
    const quint16 port = probe.localPort();
    probe.close();
    QuvorSimulator listener(nullptr, port);
    ASSERT_TRUE(listener.hasReceiver());
    QUdpSocket sender;
    sender.writeDatagram(R"({"Roll":0.25,"SimulatorCommand":1})", QHostAddress::LocalHost, port);
    for (int i = 0; i < 200 && listener.viewState().roll == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
    EXPECT_FLOAT_EQ(listener.viewState().roll, 0.25f);
}
