#include "tests/host/HostTestSupport.h"

#include "tests/e2e/AircraftPeer.h"
#include "link/CmdManager.h"
#include "link/Connector.h"
#include "tests/link/LogCapture.h"
#include "link/PortMonitor.h"

#include <gtest/gtest.h>

namespace {

TEST(HostApp, BuildsInStartUpOrderAndLeavesNothingBehind)
{
    {
        TestHost host;
        HostApp& app = host.app;
        // The device notifies in registration order: link managers, then the simulation.
        const std::vector<zel::DevListener*> order = {app.connector(), app.commandTable(), app.commandManager(),
                                                      app.simulator()};
        EXPECT_EQ(order, host.dev.added);
        EXPECT_EQ(&host.dev, zel::DevIo::current());
        EXPECT_EQ(app.connector(), qConnector::instance());
        EXPECT_EQ(app.commandTable(), zel::QCommandTable::instance());
        EXPECT_EQ(app.commandManager(), qCmdManager::instance());
        EXPECT_EQ(&testApp(), app.connector()->parent());
        EXPECT_EQ(&testApp(), app.commandManager()->parent());
        EXPECT_EQ(app.simulator(), gSimulator);
        EXPECT_EQ(app.dialog(), gCommandDialog);
        EXPECT_EQ(app.versionBox(), gVersionBox);
        EXPECT_EQ(nullptr, app.dialog()->parent());
        // A recording device has no ports to watch.
        EXPECT_EQ(nullptr, app.monitor());

        // The simulation's messages reach the console through the dialog.
        LogCapture console;
        emit app.simulator()->msg(2, "Ready%s");
        EXPECT_NE(std::string::npos, console.text().find("Ready%s")) << console.text();

        app.show();
        EXPECT_TRUE(app.dialog()->isVisible());
        EXPECT_FALSE(app.simulator()->isVisible());
        EXPECT_FALSE(app.versionBox()->isVisible());
        QString error;
        EXPECT_TRUE(app.openNamedPort(error)) << "no port named";
    }
    EXPECT_EQ(nullptr, gSimulator);
    EXPECT_EQ(nullptr, gCommandDialog);
    EXPECT_EQ(nullptr, gVersionBox);
    EXPECT_EQ(nullptr, qConnector::instance());
    EXPECT_EQ(nullptr, qCmdManager::instance());
    EXPECT_EQ(nullptr, zel::QCommandTable::instance());
    EXPECT_EQ(zel::NullDevIo::instance(), zel::DevIo::current());
}

TEST(HostApp, EachHostReadsItsSettingsAtItsFirstTick)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TestHost host;
        host.writeSettings("{ \"mFontSize\" : 17 }");
        EXPECT_TRUE(gStartupPending);
        host.startUp();
        EXPECT_FALSE(gStartupPending);
        EXPECT_EQ(17, host.dialog->mFontSize);
    }
}

// The serial device on a pseudo-terminal named with --port, as a scripted run uses it.
TEST(HostApp, NamedPortOpensOnTheSerialDevice)
{
    testApp();
    QTemporaryDir dir;
    AircraftPeer aircraft;
    ASSERT_FALSE(aircraft.path.isEmpty());
    {
        HostOptions missing;
        missing.port = dir.path() + "/ttyNone";
        HostApp host(testApp(), {dir.path(), missing});
        QString error;
        EXPECT_FALSE(host.openNamedPort(error));
        EXPECT_TRUE(error.contains(missing.port)) << error.toStdString();
    }
    {
        HostOptions options;
        options.port = aircraft.path;
        DatagramListener udp;
        HostApp host(testApp(), {dir.path(), options, nullptr, udp.port()});
        EXPECT_EQ(zel::SimpleDevIo::instance(), &host.device());
        ASSERT_NE(nullptr, host.monitor());
        QString error;
        ASSERT_TRUE(host.openNamedPort(error)) << error.toStdString();
        ASSERT_TRUE(waitUntil([&] { return host.connector()->isConnected(); }));

        // The aircraft's first state reply is acknowledged over the same port.
        ASSERT_TRUE(aircraft.send(cmd::SimulationSet, cmd::SimHeartbeat, QByteArray(4, '\0')));
        Frame ack;
        EXPECT_TRUE(waitUntil([&] { return aircraft.expect(cmd::SimulationSet, cmd::SimAckReply, ack, 10); }));
        zel::SimpleDevIo::instance()->disconnectDevice();
    }
}

TEST(HostApp, UdpDestinationsTakeTheDatagramsInsteadOfTheLocalPort)
{
    testApp();
    QTemporaryDir dir;
    DatagramListener usual;
    DatagramListener first;
    DatagramListener second;
    HostOptions options;
    options.udpTo = {{QHostAddress(QHostAddress::LocalHost), first.port()},
                     {QHostAddress(QHostAddress::LocalHost), second.port()}};
    RecordingDevIo dev;
    HostApp host(testApp(), {dir.path(), options, &dev, usual.port()});
    host.dialog()->onStartupTick(); // pushes the options, broadcast off
    // A stopped run's zero states are datagrams like any other.
    host.dialog()->mSimRunning = true;
    host.simulator()->onStopSignalProc();
    host.dialog()->mSimRunning = false;
    for (int i = 0; i < 12; ++i)
        host.simulator()->onStopSignalProc();
    ASSERT_TRUE(first.waitFor(9));
    ASSERT_TRUE(second.waitFor(9));
    EXPECT_EQ(first.take(), second.take());
    EXPECT_TRUE(usual.take().isEmpty());
}

} // namespace
