// QuvorCheck's two promises: an hour of states at 1000 Hz is judged quickly in
// little memory (the real program, its time and peak memory measured by the
// kernel), and a live check keeps up with 1000 states a second without losing
// any (the count in its report against the datagrams sent).
#include "common/RecordingFormat.h"
#include "common/StateDatagram.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>
#include <QUdpSocket>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "check_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QString program() { return QCoreApplication::applicationDirPath() + "/../bin/QuvorCheck"; }

QTemporaryDir& tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

StateDatagram::State stateAt(qint64 i, int rateHz)
{
    const double t = double(i) / rateHz;
    StateDatagram::State s;
    s.roll = float(0.05 * std::sin(t));
    s.pitch = float(0.05 * std::cos(t));
    s.yaw = float(std::fmod(t * 0.1, 6.28));
    s.worldX = float(20 * std::sin(t * 0.01));
    s.worldY = float(20 * std::cos(t * 0.01) - 20);
    s.worldZ = float(10 + 0.2 * std::sin(t));
    s.worldLatitude = 22.537;
    s.worldLongitude = 113.954;
    s.velocityX = float(0.2 * std::cos(t * 0.01));
    s.velocityY = float(-0.2 * std::sin(t * 0.01));
    s.velocityZ = float(0.2 * std::cos(t));
    s.time = quint32(i);
    s.motorStarted = 1;
    s.flyingState = 1;
    s.productType = 2;
    s.senderIp = "192.168.0.10";
    s.simulatorCommand = 1;
    return s;
}

QString writeHour(int seconds, int rateHz)
{
    const QString path = tempDir().filePath(QString("udp_%1s_%2hz.txt").arg(seconds).arg(rateHz));
    if (QFile::exists(path))
        return path;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray block;
    const qint64 states = qint64(seconds) * rateHz;
    for (qint64 i = 0; i < states; ++i) {
        block += RecordingFormat::datagramLine(QTime(10, 0).addMSecs(int(i * 1000 / rateHz)),
                                               StateDatagram::encode(stateAt(i, rateHz)));
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    f.write(block);
    return path;
}

QString writeChecks(const char* name, const QByteArray& text)
{
    const QString path = tempDir().filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(text);
    return path;
}

// Ten checks of every kind, all passing on the recording.
const char* const TenChecks = R"(name = "an hour at 1000 Hz"
product = "Nerio3"
[run]
min_duration = 3000
min_rate = 900
max_gap = 0.1
[[check]]
name = "ceiling"
value = "height"
max = 11
[[check]]
name = "holds 10 m"
value = "height"
min = 9.7
max = 10.3
for = 600
[[check]]
name = "tilt"
value = "tilt"
max = 10
[[check]]
name = "speed"
value = "speed"
max = 1
[[check]]
name = "stays near"
value = "distance"
max = 50
from = 10
to = 3500
[[check]]
name = "climb"
value = "climb"
min = -1
max = 1
[[check]]
name = "ends high"
value = "WorldZ"
min = 9
at = "end"
)";

void BM_CheckHourAt1000Hz(benchmark::State& state)
{
    app();
    const QString recording = writeHour(3600, 1000);
    const QString checks = writeChecks("ten.toml", TenChecks);
    const QByteArray exe = QFile::encodeName(program());
    const QByteArray checksArg = QFile::encodeName(checks), recordingArg = QFile::encodeName(recording);
    int code = -1;
    rusage usage{};
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            execl(exe.constData(), exe.constData(), checksArg.constData(), recordingArg.constData(), nullptr);
            _exit(127);
        }
        int status = 0;
        wait4(pid, &status, 0, &usage);
        code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (code != 0)
        state.SkipWithError("QuvorCheck did not pass the hour");
    state.counters["states"] = 3600.0 * 1000;
    state.counters["checks"] = 10;
    state.counters["rss_peak_MB"] = usage.ru_maxrss / 1024.0;
    state.counters["cpu_s"] =
        double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
BENCHMARK(BM_CheckHourAt1000Hz)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Seconds of states at 1000 Hz sent to QuvorCheck --live, paced by the clock;
// then nothing, so that the flight ends after the silence with every state sent.
void BM_LiveKeepsUpAt1000Hz(benchmark::State& state)
{
    app();
    const int seconds = int(state.range(0));
    const QString checks = writeChecks("live.toml",
                                       "name = 'live'\n"
                                       "[[check]]\nname = 'ceiling'\nvalue = 'height'\nmax = 11\n");
    const QString report = tempDir().filePath("live.json");
    qint64 sent = 0, received = -1;
    for (auto _ : state) {
        QProcess p;
        p.start(program(),
                {checks, "--live", "--udp-port", "0", "--timeout", "600", "--report", report, "--record",
                 tempDir().filePath("live-udp.txt")});
        p.waitForReadyRead(30000);
        const quint16 port = quint16(QString::fromUtf8(p.readLine()).trimmed().section(' ', -1).toUInt());
        QUdpSocket socket;
        QElapsedTimer clock;
        clock.start();
        qint64 i = 0;
        for (; i < qint64(seconds) * 1000; ++i) {
            while (clock.nsecsElapsed() < i * 1000000)
                QThread::usleep(100);
            sent += socket.writeDatagram(StateDatagram::encode(stateAt(i, 1000)), QHostAddress::LocalHost, port) > 0;
        }
        // Silence ends the flight: every datagram sent must be in the report.
        p.waitForFinished(60000);
        QFile f(report);
        f.open(QIODevice::ReadOnly);
        received = qint64(QJsonDocument::fromJson(f.readAll()).object()["datagrams"].toDouble());
    }
    state.counters["sent"] = double(sent);
    state.counters["received"] = double(received);
    state.counters["lost"] = double(sent - received);
}
BENCHMARK(BM_LiveKeepsUpAt1000Hz)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
