// What many aircraft cost the visualiser, against one: the window in-process on
// a private Xvfb, every sender a UDP socket of its own on loopback. Per case:
// frame time and CPU per paint with one state per aircraft per frame (50
// states/s each at 50 frames/s), then 10 s of real time at 50 states/s per
// aircraft with the datagrams counted as handled, then the resident memory.
// Usage: fleet_cost [aircraft, default 16]
#include "bench/BenchProcess.h"
#include "viewer/app/Fleet.h"
#include "viewer/app/QuvorSimulator.h"

#include <QApplication>
#include <QUdpSocket>

#include <Ogre.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace bench;

namespace {

constexpr int kFrames = 500;
constexpr int kRealTimeMs = 10000;

QByteArray datagram(int aircraft, int i)
{
    const double t = i * 0.02;
    // Start positions 15 m apart (0.0001 degrees north and east), each flying its own circle.
    return QStringLiteral(R"({"Roll":%1,"Pitch":-0.03,"Yaw":%2,"WorldX":%3,"WorldY":%4,"WorldZ":2,)"
                          R"("WorldLatitude":%5,"WorldLongitude":%6,"VelocityX":0.5,"VelocityY":0,)"
                          R"("VelocityZ":0,"Time":%7,"TransformState":0,"MotorStarted":1,"FlyingState":1,)"
                          R"("ProductType":%8,"SenderIP":"127.0.0.1","SimulatorCommand":1})")
        .arg(0.05 * std::sin(t))
        .arg(0.2 * t)
        .arg(3 * std::sin(0.3 * t + aircraft))
        .arg(3 * std::cos(0.3 * t + aircraft))
        .arg(22.537 + 0.0001 * aircraft, 0, 'f', 6)
        .arg(113.9 + 0.0001 * aircraft, 0, 'f', 6)
        .arg(i * 20)
        .arg(1 + aircraft % 3)
        .toUtf8();
}

struct Result {
    double frameMs = 0, frameP99 = 0, cpuMs = 0;
    int sent = 0, handled = 0;
    double rssMB = 0;
};

double at(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(double(v.size()) * q))];
}

// States every aircraft of the window has taken so far.
int handled(const QuvorSimulator& window)
{
    int n = 0;
    for (const auto& a : window.fleet().aircraft())
        n += int(a->statesHeard());
    return n;
}

// One window for both cases: the further aircraft join the first.
struct Bench {
    QuvorSimulator* window = nullptr;
    quint16 port = 0;
    std::vector<std::unique_ptr<QUdpSocket>> senders;
    int frame = 0;
    int sent = 0;

    void sendAll()
    {
        for (size_t a = 0; a < senders.size(); ++a)
            senders[a]->writeDatagram(datagram(int(a), frame), QHostAddress::LocalHost, port);
        sent += int(senders.size());
        ++frame;
    }
    // Handles what was sent; false when some did not come within 2 s.
    bool caughtUp()
    {
        QElapsedTimer t;
        t.start();
        while (handled(*window) < sent) {
            if (t.elapsed() > 2000)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    Result measure(int count)
    {
        Result r;
        while (int(senders.size()) < count) {
            senders.push_back(std::make_unique<QUdpSocket>());
            senders.back()->bind(QHostAddress(QHostAddress::LocalHost), 0);
        }
        // Every aircraft joins and its model is built before anything is measured.
        for (int i = 0; i < 20; ++i) {
            sendAll();
            caughtUp();
            window->repaint();
        }
        std::vector<double> ms, cpu;
        QElapsedTimer timer;
        for (int i = 0; i < kFrames; ++i) {
            sendAll();
            caughtUp();
            const double c = processCpuMs();
            timer.start();
            window->repaint();
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            cpu.push_back(processCpuMs() - c);
        }
        r.frameMs = at(ms, 0.5);
        r.frameP99 = at(ms, 0.99);
        r.cpuMs = at(cpu, 0.5);

        // Real time: 50 states a second from each sender, the window painting as it does.
        const int sentBefore = sent, handledBefore = handled(*window);
        QTimer stream;
        stream.setTimerType(Qt::PreciseTimer);
        stream.setInterval(20);
        QObject::connect(&stream, &QTimer::timeout, [this] { sendAll(); });
        stream.start();
        runFor(kRealTimeMs);
        stream.stop();
        caughtUp();
        r.handled = handled(*window) - handledBefore;
        r.sent = sent - sentBefore;
        r.rssMB = statusMB(::getpid(), "VmRSS:");
        return r;
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int many = argc > 1 ? std::clamp(std::atoi(argv[1]), 2, Fleet::kMaxAircraft) : Fleet::kMaxAircraft;
    XServer x;
    if (!useOwnDisplay(x, "fleet_cost"))
        return 1;
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    std::printf("fleet_cost: in-process window on Xvfb %s, 800 x 600, load at start %s\n", qPrintable(x.display()),
                loadAverage().constData());

    Bench bench;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
        bench.port = probe.localPort();
    }
    const double before = statusMB(::getpid(), "VmRSS:");
    bench.window = new QuvorSimulator(nullptr, bench.port);
    bench.window->show();
    if (!waitUntil([&] { return bench.window->isInitialised(); }, 30000)) {
        std::fprintf(stderr, "fleet_cost: OGRE did not start in-process\n");
        return 1;
    }
    const Result one = bench.measure(1);
    const Result fleet = bench.measure(many);
    if (bench.window->fleet().size() != many) {
        std::fprintf(stderr, "fleet_cost: the window shows %d aircraft, not %d\n", bench.window->fleet().size(), many);
        return 1;
    }

    std::printf("%-10s %12s %10s %14s %22s\n", "aircraft", "frame median", "frame p99", "CPU per paint",
                "handled in 10 s");
    for (const auto& [n, r] : {std::pair<int, const Result&>{1, one}, {many, fleet}})
        std::printf("%-10d %9.1f ms %7.1f ms %11.1f ms %10d of %d (%.0f/s)\n", n, r.frameMs, r.frameP99, r.cpuMs,
                    r.handled, r.sent, r.handled / (kRealTimeMs / 1000.0));
    std::printf("frame of %d against one: %.2fx\n", many, fleet.frameMs / one.frameMs);
    std::printf("resident memory: %.0f MB before the window, %.0f MB with one aircraft, %.0f MB with %d "
                "(%.1f MB per aircraft)\n",
                before, one.rssMB, fleet.rssMB, many, (fleet.rssMB - one.rssMB) / (many - 1));
    std::printf("load at end %s\n", loadAverage().constData());
    std::fflush(stdout);
    x.stop();
    std::_Exit(0); // OGRE and the window end with the process
}
