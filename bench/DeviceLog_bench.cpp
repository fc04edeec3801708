// Cost of presenting device log lines: the listener thread's share (format
// and queue) and the whole way into the window and its file.

#include "host/DeviceLog.h"
#include "link/Commands.h"
#include "link/Package.h"
#include "logwindow/LogClass.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>

#include <ctime>
#include <thread>

namespace {

std::vector<uint8_t> logFrame(uint16_t seq)
{
    static const char text[] = "\x03  EKF2 IMU0 in-flight yaw alignment complete\r\n";
    return buildPackageFrom(makeAddress(3, 0), cmd::GeneralSet, cmd::DeviceLog, reinterpret_cast<const uint8_t*>(text),
                            sizeof text - 1, 10, 0, seq);
}

struct Presenter {
    explicit Presenter(bool save) : log(dir.path())
    {
        LOG_INFO info;
        info.save = save;
        info.path = dir.path() + QStringLiteral("/LOG_FILES/");
        log.applyOptions(info, &dialog);
    }
    QTemporaryDir dir;
    LogDialogValues dialog{12, allLogTypes(), QString()};
    DeviceLog log;
};

// The whole way, on the GUI thread: format, queue, append to the view, write the file.
void BM_LineIntoWindowAndFile(benchmark::State& state)
{
    Presenter p(state.range(0) != 0);
    const auto frame = logFrame(1);
    for (auto _ : state)
        p.log.handlePackage(PackageProperty_V1::from(frame.data()));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LineIntoWindowAndFile)->Arg(0)->Arg(1)->ArgName("save");

// CPU time of the calling thread: the machine is shared, wall time would
// mostly measure the neighbours.
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Listener-thread CPU per line; the GUI work runs untimed after each batch.
void BM_ListenerShare(benchmark::State& state)
{
    constexpr int kBatch = 1000;
    Presenter p(true);
    const auto frame = logFrame(1);
    for (auto _ : state) {
        double seconds = 0;
        std::thread listener([&] {
            const double start = threadCpuSeconds();
            for (int i = 0; i < kBatch; ++i)
                p.log.handlePackage(PackageProperty_V1::from(frame.data()));
            seconds = threadCpuSeconds() - start;
        });
        listener.join();
        // The windows take queued lines in slices, one posted event each.
        do
            QCoreApplication::sendPostedEvents();
        while (LogClass::pendingOperations() > 0);
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ListenerShare)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
