// The main window's receiver path without a 3D view (OGRE not started).
#include "viewer/app/QuvorConfig.h"
#include "tests/viewer/DatagramKeys.h"
#include "viewer/app/QuvorSimulator.h"
#include "viewer/app/ReceiveDrops.h"
#include "viewer/app/ViewerApp.h"
#include "tests/common/Poll.h"
#include "tests/viewer/ConsoleCapture.h"

#include "common/Json.h"
#include "common/WindowPair.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <memory>

using viewer_test::ConsoleCapture;

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
    window.handleDatagram(
        R"({"Yaw":1.5,"WorldX":2,"ProductType":2,"MotorStarted":1,"TransformState":3,"SimulatorCommand":4})");
    window.handleDatagram(R"({"Yaw":1.5,"WorldX":2,"ProductType":3,"TransformState":2,"SimulatorCommand":4})");
    window.handleDatagram("not json");
    EXPECT_EQ(window.currentModel(), nullptr);
    EXPECT_FLOAT_EQ(window.viewState().yaw, 1.5f);
    EXPECT_EQ(window.viewState().productType, 3);
    EXPECT_EQ(window.paramOrder(), (QStringList{"Yaw", "WorldX"}));
    EXPECT_TRUE(window.isRunning());

    for (int i = 0; i < 5; ++i)
        window.onHeartBeat();
    EXPECT_TRUE(window.isRunning()) << "progress at the first heartbeat, then four silent ones";
    window.onHeartBeat();
    EXPECT_FALSE(window.isRunning());
    EXPECT_EQ(window.viewState().yaw, 0.0f) << "the end of a run zeroes the pose";
    EXPECT_EQ(window.viewState().x, 0.0);
}

// The program builds its window first, so the dialog finds it and hands it the
// saved settings as it is built.
// The demo's run: beside the host's dialog, the camera following for this run
// only (the saved choice stays until the user clicks the box).
TEST(ViewerApp, SideBySideAndTheFollowCameraForOneRun)
{
    app();
    QTemporaryDir tmp;
    auto savedCamera = [&] {
        QFile f(tmp.path() + "/UIconfig.ini");
        bool ok = false;
        const QVariantMap m =
            f.open(QIODevice::ReadOnly) ? Json::parse(QString::fromUtf8(f.readAll()), ok).toMap() : QVariantMap();
        return m.contains("mCameraMovable") ? int(m.value("mCameraMovable").toBool()) : -1;
    };
    ViewerApp::Setup setup;
    setup.udpPort = 0;
    setup.appDir = tmp.path();
    setup.sideBySide = true;
    setup.followCamera = true;
    ViewerApp viewer(app(), setup);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(WindowPair::place(screen).view, viewer.window()->pos());
    QuvorConfig& d = *viewer.dialog();
    auto* box = d.findChild<QCheckBox*>("checkBox_cam");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(d.mCameraMovable);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(0, savedCamera()) << "the saved choice stays";
    box->click(); // off by hand: now the user's choice
    EXPECT_FALSE(d.mCameraMovable);
    box->click();
    EXPECT_TRUE(d.mCameraMovable);
    EXPECT_EQ(1, savedCamera());
}

TEST(ViewerApp, TheDialogHandsTheWindowTheSavedSettings)
{
    app();
    QTemporaryDir tmp;
    QFile settings(tmp.path() + "/UIconfig.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"m_speedRate": 120})");
    settings.close();
    {
        ViewerApp::Setup setup;
        setup.udpPort = 0;
        setup.appDir = tmp.path();
        ViewerApp viewer(app(), setup);
        EXPECT_EQ(gMainWindow, viewer.window());
        EXPECT_EQ(gConfigDialog, viewer.dialog());
        EXPECT_TRUE(viewer.window()->hasReceiver());
        EXPECT_FLOAT_EQ(1.2f, viewer.window()->mSpeedRate);
        EXPECT_FALSE(viewer.dialog()->isVisible());
    }
    EXPECT_EQ(nullptr, gMainWindow);
    EXPECT_EQ(nullptr, gConfigDialog);
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

namespace {
// The program's window and settings dialog, the settings in a folder of their
// own, recording the trace.
class WindowWithDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(tmp.isValid());
        ViewerApp::Setup setup;
        setup.udpPort = 0;
        setup.appDir = tmp.path();
        viewer = std::make_unique<ViewerApp>(app(), setup);
        window = viewer->window();
        dialog = viewer->dialog();
        dialog->m_save = true;
    }
    void TearDown() override { viewer.reset(); }
    QByteArray traceLog() const
    {
        QDirIterator it(tmp.path(), {"trace.txt"}, QDir::Files, QDirIterator::Subdirectories);
        if (!it.hasNext())
            return QByteArray();
        QFile f(it.next());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void endRun()
    {
        for (int i = 0; i < 6 && window->isRunning(); ++i)
            window->onHeartBeat();
        ASSERT_FALSE(window->isRunning());
    }

    QTemporaryDir tmp;
    ConsoleCapture console;
    std::unique_ptr<ViewerApp> viewer;
    QuvorSimulator* window = nullptr;
    QuvorConfig* dialog = nullptr;
};
} // namespace

TEST_F(WindowWithDialog, StatesThatCannotBeShownAreIgnoredWithOneWarningPerRun)
{
    const QByteArray good = R"({"Roll":0.25,"Yaw":1.5,"WorldX":2,"WorldY":-1,"WorldZ":3,"Rpm1":100,"Time":5,)"
                            R"("ProductType":2,"SimulatorCommand":1})";
    window->handleDatagram(good);
    const ViewState before = window->viewState();
    const QMap<QString, QString> panels = window->paramValues();
    const QByteArray trace = traceLog();
    ASSERT_EQ(trace.count('\n'), 1);

    const char* values[] = {"1e400", "\"NaN\"", "\"inf\"", "\"-inf\""};
    for (const char* key : kNumericKeys) {
        for (const char* value : values) {
            // Every other value differs from the good state, so taking any of it would show.
            const QByteArray bad = QByteArray(R"({"Roll":0.5,"Yaw":0.5,"WorldX":1,"WorldY":1,"WorldZ":1,"Rpm1":7,)"
                                              R"("Time":9,"ProductType":3,"SimulatorCommand":2,")") +
                key + "\":" + value + "}";
            window->handleDatagram(bad);
            EXPECT_EQ(window->viewState().yaw, before.yaw) << bad.constData();
            EXPECT_EQ(window->viewState().x, before.x) << bad.constData();
            EXPECT_EQ(window->viewState().productType, before.productType) << bad.constData();
            EXPECT_EQ(window->paramValues(), panels) << bad.constData();
        }
    }
    // Finite, but 400 scene units per metre put it beyond what the scene holds.
    for (const char* far : {R"({"WorldX":1e+38,"SimulatorCommand":1})", R"({"WorldZ":-30000,"SimulatorCommand":1})",
                            R"({"WorldY":30000,"SimulatorCommand":7})"})
        window->handleDatagram(far);
    EXPECT_EQ(window->viewState().x, before.x);
    EXPECT_EQ(window->viewState().z, before.z);
    EXPECT_EQ(traceLog(), trace) << "no trace line for an ignored state";
    EXPECT_TRUE(window->isRunning()) << "ignored states still show the sender is alive";
    EXPECT_EQ(ConsoleCapture::matching("Ignoring flight states").size(), 1)
        << ConsoleCapture::lines().join('\n').toStdString();

    window->handleDatagram(good);
    EXPECT_EQ(traceLog().count('\n'), 2) << "good states go on";
    endRun();
    window->handleDatagram(R"({"WorldX":"NaN"})");
    EXPECT_EQ(ConsoleCapture::matching("Ignoring flight states").size(), 2) << "said again in the next run";
}

TEST_F(WindowWithDialog, RecordingsAreClosedAtTheEndOfARunAndWhenSwitchedOff)
{
    const auto openRecordings = [this] {
        int open = 0;
        const QString below = QFileInfo(tmp.path()).canonicalFilePath() + "/";
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
            open += fd.symLinkTarget().startsWith(below) && fd.symLinkTarget().endsWith(".txt");
        return open;
    };
    dialog->m_udp_save = true;
    window->applyConfig();
    window->handleDatagram(R"({"WorldX":1,"SimulatorCommand":1})");
    EXPECT_EQ(openRecordings(), 2);
    dialog->m_udp_save = false;
    window->applyConfig();
    EXPECT_EQ(openRecordings(), 1) << "the datagram log is closed when its recording is switched off";
    endRun();
    EXPECT_EQ(openRecordings(), 0) << "and both at the end of a run";
    window->handleDatagram(R"({"WorldX":2,"SimulatorCommand":1})");
    EXPECT_EQ(traceLog().count('\n'), 2) << "the next run goes on in the same file";
}

TEST_F(WindowWithDialog, SecondRunEndsAfterTheSameQuietTime)
{
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        window->handleDatagram(R"({"WorldX":1,"SimulatorCommand":1})");
        ASSERT_TRUE(window->isRunning());
        for (int i = 0; i < 4; ++i) {
            window->onHeartBeat();
            EXPECT_TRUE(window->isRunning()) << "heartbeat " << i;
        }
        window->onHeartBeat();
        EXPECT_FALSE(window->isRunning());
    }
}

TEST_F(WindowWithDialog, SpeedRateStaysInTheSliderRange)
{
    for (float speed : {200.0f, 0.0f, -3.0f, 1.2f}) {
        dialog->mSpeed = speed;
        window->applyConfig();
        EXPECT_EQ(window->mSpeedRate, qBound(0.5f, speed, 1.5f)) << speed;
    }
}

TEST(Receiver, ASecondListenerOnThePortIsReported)
{
    app();
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress(QHostAddress::Any), quint16(0)));
    const quint16 port = probe.localPort();
    probe.close();
    ConsoleCapture console;
    {
        QuvorSimulator alone(nullptr, port);
        EXPECT_TRUE(alone.hasReceiver());
        EXPECT_TRUE(ConsoleCapture::matching("UDP port").isEmpty());
    }
    QuvorSimulator first(nullptr, port);
    QuvorSimulator second(nullptr, port);
    EXPECT_TRUE(second.hasReceiver()) << "the port is still shared";
    const QStringList said = ConsoleCapture::matching("only one of them will receive");
    ASSERT_EQ(said.size(), 1) << ConsoleCapture::lines().join('\n').toStdString();
    EXPECT_TRUE(said.first().contains(QString::number(port)));
    EXPECT_TRUE(said.first().contains("broadcast"));
}

TEST(Receiver, ABusyPortGoesToTheConsoleWhenAskedTo)
{
    app();
    QUdpSocket blocker;
    ASSERT_TRUE(blocker.bind(QHostAddress(QHostAddress::Any), quint16(0), QUdpSocket::DontShareAddress));
    // A modal box would block the constructor; this closes it and counts it.
    int boxes = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++boxes;
            modal->close();
        }
    });
    closer.start(20);
    ConsoleCapture console;
    QuvorSimulator window(nullptr, blocker.localPort(), true);
    EXPECT_FALSE(window.hasReceiver());
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(ConsoleCapture::matching("Failed to open UDP receiver").size(), 1)
        << ConsoleCapture::lines().join('\n').toStdString();
}

namespace {
// States sent while the window does not read: the socket's buffer alone holds them.
void sendUnread(quint16 port, int count, double lastRoll)
{
    QUdpSocket sender;
    const QByteArray state =
        R"({"Roll":0.012345,"Pitch":-0.023456,"Yaw":1.690000,"WorldX":12.345678,"WorldY":-3.456789,)"
        R"("WorldZ":10.250000,"WorldLatitude":22.537018,"WorldLongitude":113.953640,"VelocityX":0.500000,)"
        R"("VelocityY":-0.250000,"VelocityZ":0.125000,"Time":123456,"TransformState":2,"MotorStarted":1,)"
        R"("FlyingState":1,"ProductType":1,"SimulatorCommand":3,"SenderIP":"192.168.1.20"})";
    for (int i = 1; i < count; ++i)
        sender.writeDatagram(state, QHostAddress::LocalHost, port);
    QByteArray last = state;
    last.replace("0.012345", QByteArray::number(lastRoll));
    sender.writeDatagram(last, QHostAddress::LocalHost, port);
}

quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
    return probe.localPort();
}
} // namespace

TEST(Receiver, HalfASecondOfStatesAt1000PerSecondWaitsUnread)
{
    app();
    {
        QUdpSocket probe;
        ASSERT_TRUE(probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0)));
        const int buffer = ReceiveDrops::enlargeReceiveBuffer(int(probe.socketDescriptor()));
        if (buffer < ReceiveDrops::kNeededBufferBytes)
            GTEST_SKIP() << "this system caps receive buffers at " << buffer << " bytes (net.core.rmem_max)";
    }
    ConsoleCapture console;
    const quint16 port = freePort();
    QuvorSimulator listener(nullptr, port);
    ASSERT_TRUE(listener.hasReceiver());
    sendUnread(port, 500, 0.75);
    EXPECT_TRUE(pollUntil([&] { return listener.viewState().roll == 0.75f; }, 5000)) << "the last state was dropped";
    EXPECT_TRUE(ConsoleCapture::matching("dropped").isEmpty()) << ConsoleCapture::lines().join('\n').toStdString();
}

TEST(Receiver, AFloodIsSaidOnceWithWhatTheSystemDropped)
{
    app();
    ConsoleCapture console;
    const quint16 port = freePort();
    QuvorSimulator listener(nullptr, port);
    ASSERT_TRUE(listener.hasReceiver());
    sendUnread(port, 20000, 0.5);
    ASSERT_TRUE(pollUntil([] { return !ConsoleCapture::matching("The system dropped").isEmpty(); }, 10000))
        << ConsoleCapture::lines().join('\n').toStdString();
    const QStringList said = ConsoleCapture::matching("The system dropped");
    ASSERT_EQ(said.size(), 1);
    const int dropped = said.first().section(' ', 3, 3).toInt();
    EXPECT_GT(dropped, 0) << said.first().toStdString();
    EXPECT_LT(dropped, 20000) << said.first().toStdString();
    EXPECT_TRUE(said.first().contains(QStringLiteral("UDP port %1 ").arg(port))) << said.first().toStdString();
}

TEST(Receiver, TheBusyPortBoxNamesThePortAndTheReason)
{
    app();
    QUdpSocket blocker;
    ASSERT_TRUE(blocker.bind(QHostAddress(QHostAddress::Any), quint16(0), QUdpSocket::DontShareAddress));
    QString text, details;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            details = box->informativeText();
            box->close();
        }
    });
    closer.start(20);
    QuvorSimulator window(nullptr, blocker.localPort(), false);
    EXPECT_FALSE(window.hasReceiver());
    EXPECT_EQ(text, "Failed to open UDP receiver!");
    EXPECT_TRUE(details.contains(QString("UDP port %1: ").arg(blocker.localPort()))) << details.toStdString();
    EXPECT_GT(details.size(), QString("UDP port %1: ").arg(blocker.localPort()).size()) << "no reason given";
}

// Two senders are two aircraft: each its own state, run and trace log; the
// panels and the camera follow one of them.
TEST_F(WindowWithDialog, TwoSendersAreTwoAircraftWithTheirOwnRunsAndTraces)
{
    const QByteArray first = R"({"Roll":0.25,"WorldX":1,"ProductType":1,"SenderIP":"10.0.0.1","SimulatorCommand":1})";
    const QByteArray second = R"({"Roll":0.5,"WorldX":2,"ProductType":3,"SenderIP":"10.0.0.2","SimulatorCommand":1})";
    window->handleDatagram(first, "10.0.0.1", 40000);
    window->handleDatagram(second, "10.0.0.2", 40000);
    ASSERT_EQ(window->fleet().size(), 2);
    EXPECT_EQ(window->paramValues().value("Roll"), "0.2500") << "the first aircraft is followed";
    window->followNext(1);
    EXPECT_EQ(window->paramValues().value("Roll"), "0.5000");
    EXPECT_EQ(window->viewState().productType, 3);
    window->followNext(1);
    EXPECT_EQ(window->viewState().productType, 1) << "and round again";

    QDirIterator it(tmp.path(), {"trace_10.0.0.2.txt"}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(it.hasNext()) << "the second aircraft's trace lies beside trace.txt";
    EXPECT_EQ(
        QFileInfo(it.next()).path(),
        QFileInfo(QDirIterator(tmp.path(), {"trace.txt"}, QDir::Files, QDirIterator::Subdirectories).next()).path());
    EXPECT_EQ(traceLog().count('\n'), 1) << "trace.txt holds the first aircraft only";

    // Only the first goes on: the second's run ends alone.
    for (int i = 0; i < 6; ++i) {
        window->handleDatagram(first, "10.0.0.1", 40000);
        window->onHeartBeat();
    }
    EXPECT_TRUE(window->isRunning());
    EXPECT_FALSE(window->fleet().at(1)->running());
    EXPECT_TRUE(window->fleet().at(0)->running());
    EXPECT_EQ(window->fleet().at(1)->status(), "silent");
}

TEST_F(WindowWithDialog, TheMenuOffersToFollowOnceThereAreTwoAircraft)
{
    auto texts = [](const QMenu& menu) {
        QStringList out;
        for (const QAction* a : menu.actions())
            out.append(a->text());
        return out;
    };
    window->handleDatagram(R"({"ProductType":2,"SenderIP":"10.0.0.1","SimulatorCommand":1})", "10.0.0.1", 1);
    {
        QMenu menu;
        window->fillMenu(menu);
        EXPECT_EQ(texts(menu), QStringList{"Setup"}) << "one aircraft: the menu as it always was";
    }
    window->handleDatagram(R"({"ProductType":3,"SenderIP":"10.0.0.2","SimulatorCommand":1})", "10.0.0.2", 1);
    QMenu menu;
    window->fillMenu(menu);
    ASSERT_EQ(texts(menu), (QStringList{"Setup", "Follow"}));
    QMenu* follow = menu.actions().at(1)->menu();
    ASSERT_NE(follow, nullptr);
    ASSERT_EQ(texts(*follow), (QStringList{"1  Nerio3 10.0.0.1", "2  Vx7 10.0.0.2"}));
    EXPECT_TRUE(follow->actions().at(0)->isChecked());
    follow->actions().at(1)->trigger();
    EXPECT_EQ(window->fleet().followed(), window->fleet().at(1));
    EXPECT_EQ(window->viewState().productType, 3);
}

TEST_F(WindowWithDialog, ASilentAircraftBesideTheFollowedOneGoesAfterThirtySeconds)
{
    qint64 now = 0;
    window->setClock([&] { return now; });
    const QByteArray first = R"({"WorldX":1,"ProductType":1,"SenderIP":"10.0.0.1","SimulatorCommand":1})";
    const QByteArray second = R"({"WorldX":2,"ProductType":2,"SenderIP":"10.0.0.2","SimulatorCommand":1})";
    window->handleDatagram(first, "10.0.0.1", 1);
    window->handleDatagram(second, "10.0.0.2", 1);
    for (int i = 0; i < 6; ++i)
        window->onHeartBeat();
    EXPECT_FALSE(window->isRunning());
    ASSERT_EQ(window->fleet().size(), 2) << "silent, not yet gone";
    now = 30000;
    window->onHeartBeat();
    ASSERT_EQ(window->fleet().size(), 1);
    EXPECT_EQ(window->fleet().at(0)->key().senderIp, "10.0.0.1") << "the followed one stays";
    // The place is free for a new sender, which starts its own run.
    window->handleDatagram(second, "10.0.0.2", 2);
    EXPECT_EQ(window->fleet().size(), 2);
    EXPECT_EQ(window->fleet().at(1)->number(), 3);
    EXPECT_TRUE(window->isRunning());
}
