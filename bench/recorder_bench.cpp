// Cost of the visualiser's recordings: one datagram line into udp.txt and one
// position line into trace.txt, as each accepted state writes them. The host
// sends at most 1000 states a second, so the time per record times 1000 is
// the share of the GUI thread that recording takes at that rate.

#include "viewer/app/Recorder.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <chrono>
#include <ctime>
#include <thread>

namespace {

// A host datagram of typical length.
const QByteArray kDatagram =
    "{\"Roll\":0.012345,\"Pitch\":-0.023456,\"Yaw\":1.690000,\"WorldX\":12.345678,\"WorldY\":-3.456789,"
    "\"WorldZ\":10.250000,\"WorldLatitude\":22.537018,\"WorldLongitude\":113.953640,\"VelocityX\":0.500000,"
    "\"VelocityY\":-0.250000,\"VelocityZ\":0.125000,\"Time\":123456,\"TransformState\":2,\"MotorStarted\":1,"
    "\"FlyingState\":1,\"ProductType\":1,\"SimulatorCommand\":3,\"SenderIP\":\"192.168.1.20\"}";

struct Recording {
    Recording()
    {
        const QString save = dir.path() + "/";
        recorder.refresh(save + "/TRACE_FILES/", save + "/UDP_FILES/", false, {});
    }
    QTemporaryDir dir;
    Recorder recorder;
};

void BM_DatagramLine(benchmark::State& state)
{
    Recording r;
    for (auto _ : state)
        r.recorder.writeDatagram(kDatagram);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * (kDatagram.size() + 16));
}
BENCHMARK(BM_DatagramLine);

void BM_TraceLine(benchmark::State& state)
{
    Recording r;
    double x = 0;
    for (auto _ : state)
        r.recorder.writeTrace(x += 0.001, -2.25, 10);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceLine);

// Both logs on, as a state with "save trace" and "save UDP message" writes them.
void BM_StateWithBothLogs(benchmark::State& state)
{
    Recording r;
    for (auto _ : state) {
        r.recorder.writeDatagram(kDatagram);
        r.recorder.writeTrace(1.5, -2.25, 10);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StateWithBothLogs);

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// One second of states as the host sends them, 1000 paced a millisecond apart,
// both logs on: the GUI thread's CPU time per record and its share of the second.
void BM_OneSecondAt1000StatesPerSecond(benchmark::State& state)
{
    Recording r;
    double cpu = 0;
    for (auto _ : state) {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < 1000; ++i) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            const double before = threadCpuSeconds();
            r.recorder.writeDatagram(kDatagram);
            r.recorder.writeTrace(1.5, -2.25, 10);
            cpu += threadCpuSeconds() - before;
        }
    }
    state.counters["cpu_us_per_state"] = cpu * 1e6 / double(state.iterations() * 1000);
    state.counters["cpu_share_percent"] = cpu * 100 / double(state.iterations());
}
BENCHMARK(BM_OneSecondAt1000StatesPerSecond)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
