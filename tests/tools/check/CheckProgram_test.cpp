// The QuvorCheck program: runs of a recording, exit statuses, the files it
// writes, and a live flight on a port of its own.

#include "tests/common/Poll.h"
#include "tests/common/ProcessSignal.h"
#include "tests/tools/check/CheckTestSupport.h"

#include "tools/replay/Recording.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace check_test;

namespace {

QCoreApplication* app()
{
    static int argc = 1;
    static char name[] = "CheckProgram_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return instance;
}

QString program() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")) + "/QuvorCheck"; }

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome runCheck(const QStringList& args)
{
    QProcess p;
    p.start(program(), args);
    EXPECT_TRUE(p.waitForFinished(scaledTimeout(60000)));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

const char* const Checks = "name = 'runs'\n[run]\nmin_duration = 6\n"
                           "[[check]]\nname = 'low'\nvalue = 'height'\nmax = 20\n";

// Outcome 1 lasts 5 s, run 11 (after zero states) 8 s.
QByteArray twoRuns()
{
    auto first = flightOf(5, 10, [](double t) {
        State s = flyingState();
        s.worldZ = float(t);
        return s;
    });
    for (int i = 0; i < 3; ++i)
        first.push_back({5.3 + 0.3 * i, StateDatagram::zeroState(2, 2 + i)});
    for (const auto& [t, s] : flightOf(8, 10, [](double t) {
             State s = flyingState();
             s.simulatorCommand = 11;
             s.worldZ = float(t);
             return s;
         }))
        first.push_back({7 + t, s});
    return recordingOf(first);
}

class CheckProgram : public ::testing::Test {
protected:
    void SetUp() override { app(); }
    Files files;
};

TEST_F(CheckProgram, JudgesTheLongestRunOrTheOneAskedFor)
{
    const QString checks = files.write("c.toml", Checks);
    const QString recording = files.write("udp.txt", twoRuns());
    const Outcome longest = runCheck({checks, recording});
    EXPECT_EQ(0, longest.code) << longest.out.toStdString() << longest.err.toStdString();
    EXPECT_TRUE(longest.out.contains("2 runs, judging run 2 (8.000 s")) << longest.out.toStdString();
    EXPECT_TRUE(longest.out.endsWith("2 passed, 0 failed\n")) << longest.out.toStdString();

    const Outcome first = runCheck({checks, recording, "--run", "1"});
    EXPECT_EQ(1, first.code);
    EXPECT_TRUE(first.out.contains("FAIL  min_duration 6  (the flight lasted 5.000 s")) << first.out.toStdString();
    EXPECT_TRUE(first.out.endsWith("1 passed, 1 failed\n")) << first.out.toStdString();
}

TEST_F(CheckProgram, ExitStatuses)
{
    const QString checks = files.write("c.toml", Checks);
    const QString recording = files.write("udp.txt", twoRuns());
    const QString broken = files.write("broken.toml", "name = 'x'\n[[check]]\nvalue = 'height'\nmax = 3 3\n");
    const QString unknown = files.write("unknown.toml", "name = 'x'\n\n[[check]]\nvalue = 'altitude'\nmax = 3\n");
    QByteArray zeros;
    for (int i = 0; i < 3; ++i)
        zeros += RecordingFormat::datagramLine(QTime(10, 0).addMSecs(300 * i),
                                               StateDatagram::encode(StateDatagram::zeroState(2, 2 + i)));
    const QString noRun = files.write("zeros.txt", zeros);
    const struct {
        QStringList args;
        int code;
        const char* says; // on standard error, or on standard output for status 0 and 1
    } cases[] = {
        {{checks, recording}, 0, "2 passed, 0 failed"},
        {{checks, noRun}, 1, "no run"},
        {{checks, recording, "--run", "3"}, 2, "--run 3: the recording holds 2 runs"},
        {{checks, recording, "--frobnicate"}, 2, "unknown option --frobnicate"},
        {{checks, recording, "--timeout", "5"}, 2, "--timeout belongs to --live"},
        {{checks, "--live", "--udp-port", "70000"}, 2, "--udp-port takes a port"},
        {{checks}, 2, "no recording given"},
        {{broken, recording}, 2, "broken.toml:4:"},
        {{unknown, recording}, 2, "unknown.toml:4: unknown value \"altitude\""},
    };
    for (const auto& c : cases) {
        const Outcome r = runCheck(c.args);
        EXPECT_EQ(c.code, r.code) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        const QString& text = c.code == 2 ? r.err : r.out;
        EXPECT_TRUE(text.contains(c.says)) << c.args.join(' ').toStdString() << "\n" << text.toStdString();
    }
}

TEST_F(CheckProgram, WritesJunitAndReportFiles)
{
    const QString checks = files.write("c.toml", Checks);
    const QString recording = files.write("udp.txt", twoRuns());
    const Outcome r =
        runCheck({checks, recording, "--run", "1", "--junit", files.path("j.xml"), "--report", files.path("r.json")});
    EXPECT_EQ(1, r.code);
    QFile junit(files.path("j.xml"));
    ASSERT_TRUE(junit.open(QIODevice::ReadOnly));
    const QByteArray xml = junit.readAll();
    EXPECT_TRUE(xml.contains("<testsuite name=\"runs\"")) << xml.toStdString();
    EXPECT_TRUE(xml.contains("<failure message=\"the flight lasted 5.000 s")) << xml.toStdString();
    QFile report(files.path("r.json"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    EXPECT_TRUE(report.readAll().contains("\"run\": 1"));
}

// The live program on a free port: its first line names it.
class LiveProgram : public CheckProgram {
protected:
    void start(const QString& checks, const QStringList& more)
    {
        process.start(program(), QStringList{checks, "--live", "--udp-port", "0"} + more);
        ASSERT_TRUE(pollUntil(
            [&] {
                out += QString::fromUtf8(process.readAllStandardOutput());
                return out.contains('\n') || process.state() == QProcess::NotRunning;
            },
            30000));
        const QString first = out.section('\n', 0, 0);
        ASSERT_TRUE(first.startsWith("listening on UDP port ")) << out.toStdString();
        port = quint16(first.section(' ', -1).toUInt());
        ASSERT_NE(0, port);
    }
    bool send(const State& s)
    {
        return sender.writeDatagram(StateDatagram::encode(s), QHostAddress::LocalHost, port) > 0;
    }
    int finish()
    {
        if (process.state() != QProcess::NotRunning) {
            EXPECT_TRUE(process.waitForFinished(scaledTimeout(30000)));
        }
        out += QString::fromUtf8(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    ~LiveProgram() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
    QUdpSocket sender;
    QString out;
    quint16 port = 0;
};

TEST_F(LiveProgram, AFlightEndsWhenTheMotorsStayStoppedAndIsRecorded)
{
    const QString checks = files.write("live.toml",
                                       "name = 'live'\n[run]\nend_after_motors_stop = 0.2\n"
                                       "[[check]]\nname = 'low'\nvalue = 'height'\nmax = 20\n");
    start(checks, {"--timeout", "60", "--record", files.path("udp.txt"), "--report", files.path("r.json")});
    int sent = 0;
    State s = flyingState();
    for (; sent < 20; ++sent)
        ASSERT_TRUE(send(s));
    // The motors stop: states keep coming, as from an aircraft on the ground,
    // until the checker ends the flight.
    s.motorStarted = 0;
    EXPECT_TRUE(pollUntil(
        [&] {
            if (process.state() == QProcess::NotRunning)
                return true;
            sent += send(s) ? 1 : 0;
            return false;
        },
        30000));
    EXPECT_EQ(0, finish()) << out.toStdString();
    EXPECT_TRUE(out.contains("PASS  flight ended before the timeout")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("2 passed, 0 failed\n")) << out.toStdString();

    // What it received, in the recording format: every datagram up to the end.
    replay::Recording recording;
    QString error;
    ASSERT_TRUE(recording.open(files.path("udp.txt"), error)) << error.toStdString();
    EXPECT_GE(recording.count(), 21);
    EXPECT_LE(recording.count(), sent);
    EXPECT_EQ(0, recording.stats().skipped);
}

TEST_F(LiveProgram, ATimeoutBeforeTheEndFails)
{
    const QString checks =
        files.write("live.toml", "name = 'live'\n[[check]]\nname = 'low'\nvalue = 'height'\nmax = 20\n");
    // The states queued when the timeout comes are judged too.
    const QString timeout = QString::number(scaledTimeout(2000) / 1000.0);
    start(checks, {"--timeout", timeout, "--junit", files.path("j.xml")});
    // A flight that never ends: states keep coming until the checker gives up.
    EXPECT_TRUE(pollUntil(
        [&] {
            send(flyingState());
            return process.state() == QProcess::NotRunning;
        },
        30000));
    EXPECT_EQ(1, finish()) << out.toStdString();
    EXPECT_TRUE(out.contains("FAIL  flight ended before the timeout  (no end of flight within " + timeout + " s"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("PASS  low")) << "judged on the states seen: " << out.toStdString();
}

TEST_F(LiveProgram, ACheckerHeldOffTheProcessorJudgesTheFlightAsItCame)
{
    const QString checks = files.write("live.toml",
                                       "name = 'live'\n[run]\nend_after_motors_stop = 0.2\n"
                                       "max_gap = 0.5\nmin_duration = 2.9\n");
    start(checks, {"--timeout", "120"});
    State s = flyingState();
    ASSERT_TRUE(send(s));
    // Stopped, it reads nothing while the flight goes on for longer than the
    // silence that would end it; the states wait in the kernel's queue.
    ASSERT_TRUE(signalProcess(process.processId(), SIGSTOP));
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 3000) {
        ASSERT_TRUE(send(s));
        QThread::msleep(20);
    }
    ASSERT_TRUE(signalProcess(process.processId(), SIGCONT));
    s.motorStarted = 0;
    EXPECT_TRUE(pollUntil(
        [&] {
            send(s);
            return process.state() == QProcess::NotRunning;
        },
        30000));
    EXPECT_EQ(0, finish()) << out.toStdString();
    EXPECT_TRUE(out.contains("PASS  max_gap 0.5")) << out.toStdString();
    EXPECT_TRUE(out.contains("PASS  min_duration 2.9")) << "one flight, not cut at the stop: " << out.toStdString();
}

} // namespace
