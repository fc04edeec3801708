// QuvorReplay's two promises: each datagram leaves close to its due time
// (through the real engine, timer and UDP socket), and a recording of any
// length opens quickly into a small index.
#include "tools/replay/Recording.h"
#include "tools/replay/ReplayEngine.h"
#include "tools/replay/ReplaySender.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUdpSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

// A host-like recording: `seconds` of states at `rateHz`, 10:00:00.000 onwards.
QString writeRecording(const QString& path, int seconds, int rateHz)
{
    if (QFile::exists(path))
        return path;
    std::FILE* f = std::fopen(QFile::encodeName(path + ".part").constData(), "w");
    const qint64 states = qint64(seconds) * rateHz;
    for (qint64 i = 0; i < states; ++i) {
        const qint64 ms = 36000000 + i * 1000 / rateHz;
        const double s = double(i) / rateHz;
        std::fprintf(f,
                     "[%02lld:%02lld:%02lld.%03lld]\t{\"Roll\":%g,\"Pitch\":%g,\"Yaw\":%g,\"WorldX\":%g,\"WorldY\":%g,"
                     "\"WorldZ\":%g,\"WorldLatitude\":22.537,\"WorldLongitude\":113.954,\"VelocityX\":%g,"
                     "\"VelocityY\":%g,\"VelocityZ\":0,\"Time\":%lld,\"TransformState\":0,\"MotorStarted\":1,"
                     "\"FlyingState\":1,\"ProductType\":2,\"SenderIP\":\"192.168.0.10\",\"SimulatorCommand\":1}\n",
                     ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, 0.01 * (i % 100), -0.02, s * 0.001,
                     s * 0.5, s * 0.25, 10 + 0.001 * (i % 1000), 0.5, 0.25, i);
    }
    std::fclose(f);
    QFile::rename(path + ".part", path);
    return path;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

long residentKiB()
{
    long pages = 0, resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Lateness of each datagram after its due time, measured when writeDatagram
// has returned, at speed 1; also how far the whole run is off its duration.
void BM_ReplaySendTiming(benchmark::State& state)
{
    app();
    const int seconds = int(state.range(0));
    const int rate = int(state.range(1));
    const QString path = writeRecording(
        QDir::temp().filePath(QString("quvor_replay_bench_%1s_%2hz.txt").arg(seconds).arg(rate)), seconds, rate);
    replay::Recording recording;
    QString error;
    if (!recording.open(path, error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    QUdpSocket receiver;
    receiver.bind(QHostAddress(QHostAddress::LocalHost), 0);
    replay::ReplaySender sender;
    sender.setTarget("127.0.0.1", receiver.localPort(), error);

    std::vector<double> lateMs;
    double runErrorMs = 0;
    for (auto _ : state) {
        lateMs.clear();
        const replay::ReplayEngine::Clock clock = replay::ReplayEngine::steadyClock();
        replay::ReplayEngine engine(recording, sender, false, clock);
        qint64 startUs = 0, lastUs = 0;
        QObject::connect(&engine, &replay::ReplayEngine::stateSent, [&](int index) {
            lastUs = clock();
            lateMs.push_back(double(lastUs - startUs) / 1000.0 - double(recording.timeMs(index)));
            // Keep the socket from filling (the kernel would drop the rest anyway).
            while (receiver.hasPendingDatagrams())
                receiver.readDatagram(nullptr, 0);
        });
        QObject::connect(&engine, &replay::ReplayEngine::finished, &app(), [] { QCoreApplication::exit(0); });
        startUs = clock();
        engine.play();
        QCoreApplication::exec();
        runErrorMs = double(lastUs - startUs) / 1000.0 - double(recording.durationMs());
    }
    state.counters["states"] = double(lateMs.size());
    state.counters["late_p50_ms"] = percentile(lateMs, 0.50);
    state.counters["late_p99_ms"] = percentile(lateMs, 0.99);
    state.counters["late_max_ms"] = percentile(lateMs, 1.0);
    state.counters["run_error_ms"] = runErrorMs;
    state.counters["sent"] = double(sender.sent());
}
BENCHMARK(BM_ReplaySendTiming)->Args({10, 1000})->Args({60, 50})->Iterations(1)->Unit(benchmark::kSecond);

// One hour at 1000 states per second (3.6 million lines, about 1.2 GB), from a
// warm page cache: time to open and the memory the index and plots take.
void BM_ReplayOpenHourAt1000Hz(benchmark::State& state)
{
    app();
    const QString path = writeRecording(QDir::temp().filePath("quvor_replay_bench_3600s_1000hz.txt"), 3600, 1000);
    const long before = residentKiB();
    long after = 0;
    qint64 states = 0;
    for (auto _ : state) {
        replay::Recording recording;
        QString error;
        if (!recording.open(path, error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        after = residentKiB();
        states = recording.count();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["states"] = double(states);
    state.counters["file_MB"] = double(QFile(path).size()) / 1e6;
    state.counters["rss_before_MB"] = before / 1024.0;
    state.counters["rss_open_MB"] = after / 1024.0;
    state.counters["rss_peak_MB"] = usage.ru_maxrss / 1024.0;
}
BENCHMARK(BM_ReplayOpenHourAt1000Hz)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
