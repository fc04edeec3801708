// The program as scripts run it: --no-gui, --summary, --plot, exit codes, Ctrl+C.
#include "tests/tools/replay/ReplayTestFiles.h"
#include "tests/common/ProcessSignal.h"
#include "common/Json.h"

#include <QCoreApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QUdpSocket>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_program_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QString program() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")) + "/QuvorReplay"; }

class ReplayProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        target = QString("127.0.0.1:%1").arg(receiver.localPort());
    }
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    // prefix: a command that runs the program, such as unshare.
    int run(const QStringList& args, const QStringList& prefix = {})
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        if (prefix.isEmpty())
            process.start(program(), args);
        else
            process.start(prefix.first(), prefix.mid(1) + QStringList{program()} + args);
        // Drain the socket while it runs, so nothing is lost to a full buffer.
        while (!process.waitForFinished(20))
            take();
        take();
        output = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QList<QVariantMap> take()
    {
        while (receiver.hasPendingDatagrams()) {
            QByteArray data(int(receiver.pendingDatagramSize()), '\0');
            receiver.readDatagram(data.data(), data.size());
            bool ok = false;
            received.append(Json::parse(QString::fromUtf8(data), ok).toMap());
        }
        return received;
    }
    QString recording(int states, int gapMs)
    {
        QByteArray text;
        for (int i = 0; i < states; ++i)
            text += replay_test::udpLine(i * gapMs, replay_test::state(i, i));
        return files.write("udp.txt", text);
    }

    replay_test::RecordingFiles files;
    QUdpSocket receiver;
    QString target;
    QProcess process;
    QByteArray output;
    QList<QVariantMap> received;
};

TEST_F(ReplayProgramTest, PlaysTheWholeRecordingWithoutAWindow)
{
    const QString file = recording(60, 10);
    ASSERT_EQ(0, run({file, "--no-gui", "--speed", "4", "--to", target})) << output.constData();
    ASSERT_EQ(60, received.size());
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(i * 10, received[i]["Time"].toInt());
        EXPECT_EQ(1, received[i]["PlayBackEnabled"].toInt());
        EXPECT_EQ(i, received[i]["WorldZ"].toInt());
        EXPECT_EQ("192.168.0.10", received[i]["SenderIP"].toString().toStdString());
    }
    EXPECT_FALSE(output.contains("\r")) << "no progress line without a terminal";
}

TEST_F(ReplayProgramTest, PlaysAPartOfTheRecordingAsLocalData)
{
    const QString file = recording(100, 10);
    ASSERT_EQ(0, run({file, "--no-gui", "--speed", "16", "--from", "0.2", "--to", "0.5", "--local", "--to", target}))
        << output.constData();
    ASSERT_EQ(31, received.size());
    EXPECT_EQ(200, received.first()["Time"].toInt());
    EXPECT_EQ(500, received.last()["Time"].toInt());
    EXPECT_EQ("127.0.0.1", received.first()["SenderIP"].toString().toStdString());
}

TEST_F(ReplayProgramTest, ExitStatusTellsWhatWentWrong)
{
    const QString good = recording(3, 10);
    const QString junk = files.write("junk.txt", "nothing\nhere\n");
    const struct {
        QStringList args;
        int code;
        const char* says;
    } cases[] = {
        {{"--help"}, 0, "--no-gui"},
        {{good, "--no-gui", "--speed", "fast"}, 2, "--speed must be a number"},
        {{good, "--frobnicate"}, 2, "unknown option '--frobnicate'"},
        {{good, "--no-gui", "--to", "no.such.host.invalid"}, 2, "cannot resolve host"},
        {{files.path("missing.txt"), "--no-gui"}, 1, "cannot open"},
        {{junk, "--no-gui"}, 1, "holds no state (2 lines skipped: line 1: no time stamp, line 2: no time stamp)"},
        {{junk, "--summary"}, 1, "holds no state"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(c.code, run(c.args));
        EXPECT_TRUE(output.contains(c.says)) << output.constData();
    }
}

// True when the system has a route to address (a datagram socket's connect sends nothing).
bool routeTo(const char* address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5566);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return routed;
}

TEST_F(ReplayProgramTest, DatagramsThatCouldNotBeSentEndInFailure)
{
    // A network namespace of its own has no route at all, where one is to be had (root).
    QProcess probe;
    probe.start("unshare", {"--net", "true"});
    const bool canUnshare = probe.waitForFinished(10000) && probe.exitCode() == 0;
    const QStringList prefix = canUnshare ? QStringList{"unshare", "--net", "--"} : QStringList();

    const QString file = recording(3, 10);
    const struct {
        QStringList args;
        const char* address;
    } cases[] = {
        {{file, "--no-gui", "--to", "10.1.2.3"}, "10.1.2.3"},
        {{file, "--no-gui", "--broadcast"}, "255.255.255.255"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        if (!canUnshare && routeTo(c.address))
            GTEST_SKIP() << "this network routes " << c.address << " and has no namespace to offer";
        EXPECT_EQ(1, run(c.args, prefix));
        EXPECT_TRUE(output.contains(QString("3 datagrams could not be sent to %1:5566").arg(c.address).toLatin1()))
            << output.constData();
    }
}

TEST_F(ReplayProgramTest, SkippedLinesAreReportedAndPlayingGoesOn)
{
    QByteArray text =
        replay_test::udpLine(0, "{\"WorldZ\":1}") + "torn line\n" + replay_test::udpLine(10, "{\"WorldZ\":2}");
    ASSERT_EQ(0, run({files.write("udp.txt", text), "--no-gui", "--to", target}));
    EXPECT_TRUE(output.contains("1 line skipped: line 2: no time stamp")) << output.constData();
    EXPECT_EQ(2, received.size());
}

TEST_F(ReplayProgramTest, SummaryAndPlotNeedNoDisplay)
{
    const QString file = recording(200, 5);
    ASSERT_EQ(0, run({file, "--summary"})) << output.constData();
    EXPECT_TRUE(output.contains("states:             200")) << output.constData();
    EXPECT_TRUE(output.contains("highest height:     199.00 m")) << output.constData();
    EXPECT_TRUE(received.isEmpty());

    const QString png = files.path("plots.png");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    process.setProcessEnvironment(env);
    ASSERT_EQ(0, run({file, "--plot", png})) << output.constData();
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(QSize(1200, 900), image.size());
    // Three charts with curves: many colours, not a blank picture.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 20);

    EXPECT_EQ(1, run({file, "--plot", files.path("no/such/folder/p.png")}));
    EXPECT_TRUE(output.contains("cannot write")) << output.constData();
}

TEST_F(ReplayProgramTest, CtrlCStopsAtOnce)
{
    const QString file = recording(601, 100); // a minute
    process.start(program(), {file, "--no-gui", "--to", target});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !take().isEmpty(); }, 10000));
    signalProcess(process.processId(), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(QProcess::NormalExit, process.exitStatus());
    EXPECT_EQ(130, process.exitCode());
    EXPECT_LT(take().size(), 100);
}

TEST_F(ReplayProgramTest, WhatCannotBeSentInTimeIsSkippedAndCounted)
{
    // 100 000 states at one instant: far more than leave within a frame.
    QByteArray text;
    for (int i = 0; i < 100000; ++i)
        text += "[10:00:00.000]\t{}\n";
    ASSERT_EQ(0, run({files.write("udp.txt", text), "--no-gui", "--to", target})) << output.constData();
    const QRegularExpressionMatch m = QRegularExpression(R"(the pace could not be held: .*?(\d+) (?:states? )?skipped)")
                                          .match(QString::fromUtf8(output));
    ASSERT_TRUE(m.hasMatch()) << output.constData();
    EXPECT_GT(m.captured(1).toInt(), 0);
    EXPECT_LT(m.captured(1).toInt(), 100000);
}

TEST_F(ReplayProgramTest, CtrlCStopsABurstThatOutrunsTheSender)
{
    // 200 000 states a millisecond apart at 1024, over and over: always more due than leave.
    QByteArray text;
    for (int i = 0; i < 200000; ++i)
        text += replay_test::udpLine(i, "{}");
    process.start(program(), {files.write("udp.txt", text), "--no-gui", "--speed", "1024", "--loop", "--to", target});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !take().isEmpty(); }, 10000));
    signalProcess(process.processId(), SIGINT);
    ASSERT_TRUE(process.waitForFinished(5000));
    EXPECT_EQ(QProcess::NormalExit, process.exitStatus());
    EXPECT_EQ(130, process.exitCode());
}

TEST_F(ReplayProgramTest, ARecordingCutWhilePlayingEndsInFailure)
{
    const QString file = recording(601, 100); // a minute
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program(), {file, "--no-gui", "--to", target});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !take().isEmpty(); }, 10000));
    QFile cut(file);
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    ASSERT_TRUE(cut.resize(cut.size() / 2));
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(1, process.exitCode());
    const QByteArray said = process.readAll();
    EXPECT_TRUE(said.contains((file + " changed while it played").toUtf8())) << said.constData();
    EXPECT_LT(take().size(), 300);
}

} // namespace
