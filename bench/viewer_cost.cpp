// What the visualiser costs on this machine, in one run: the real program under
// its own Xvfb, 10 s in each state, CPU time read from /proc (the program's and
// the X server's); then the frame time measured in-process; then the program's
// resident memory. Usage: viewer_cost [path to QuvorSimulatorUI]
// The frame is measured twice more through the window's paint, with the trace
// shown: empty, and after 12000 points (an hour of flight) appended a few per paint.
#include "viewer/app/QuvorSimulator.h"
#include "viewer/models/QuvorModel.h"
#include "bench/BenchProcess.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <Ogre.h>

#include <algorithm>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <functional>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

constexpr int kMeasureMs = 10000;
constexpr int kTracePoints = 12000;
constexpr int kTracePointsPerPaint = 6;

struct Frames {
    std::vector<double> ms, cpu;
};

// The Tavik's landing: flying with its arms up, lowering them (TransformState 1 -> 4),
// landed; the motors run until the last step.
enum class Tavik { None, Flying, Landing, MotorsOff };

QByteArray datagram(bool flying, int i, Tavik tavik = Tavik::None)
{
    if (tavik != Tavik::None)
        return QStringLiteral(R"({"Roll":0,"Pitch":0,"Yaw":0,"WorldX":0,"WorldY":0,"WorldZ":0,)"
                              R"("WorldLatitude":28.6479,"WorldLongitude":114.592,"VelocityX":0,"VelocityY":0,)"
                              R"("VelocityZ":0,"Time":1000,"TransformState":%1,"MotorStarted":%2,"FlyingState":0,)"
                              R"("ProductType":1,"SenderIP":"127.0.0.1","SimulatorCommand":1})")
            .arg(tavik == Tavik::Flying ? 1 : 4)
            .arg(tavik == Tavik::MotorsOff ? 0 : 1)
            .toUtf8();
    const double t = i * 0.02;
    return QStringLiteral(R"({"Roll":%1,"Pitch":%2,"Yaw":%3,"WorldX":%4,"WorldY":%5,"WorldZ":%6,)"
                          R"("WorldLatitude":28.6479,"WorldLongitude":114.592,"VelocityX":%7,"VelocityY":0,)"
                          R"("VelocityZ":0,"Time":%8,"TransformState":0,"MotorStarted":%9,"FlyingState":%9,)"
                          R"("ProductType":2,"SenderIP":"127.0.0.1","SimulatorCommand":1})")
        .arg(flying ? 0.05 * std::sin(t) : 0.0)
        .arg(flying ? -0.03 : 0.0)
        .arg(flying ? 0.2 * t : 0.0)
        .arg(flying ? 0.5 * t : 0.0)
        .arg(flying ? std::sin(0.3 * t) : 0.0)
        .arg(flying ? 2.0 : 0.0)
        .arg(flying ? 0.5 : 0.0)
        .arg(flying ? i * 20 : 1000)
        .arg(flying ? 1 : 0)
        .toUtf8();
}

struct Cost {
    double program = 0, xserver = 0;
};

} // namespace

int main(int argc, char** argv)
{
    XServer x;
    if (!useOwnDisplay(x, "viewer_cost"))
        return 1;
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    const QString program = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                     : QCoreApplication::applicationDirPath() + "/../bin/QuvorSimulatorUI";
    std::printf("viewer_cost: %s on Xvfb %s, 800 x 600, load at start %s\n", qPrintable(program),
                qPrintable(x.display()), loadAverage().constData());

    // A port of our own, so that other programs on this machine neither receive nor disturb our states.
    quint16 port = 0;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
        port = probe.localPort();
    }
    QTemporaryDir dir;
    ChildProcess viewer;
    viewer.setWorkingDirectory(dir.path());
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString first = dir.filePath("first.png");
    viewer.start(program, {"--udp-port", QString::number(port), "--screenshot", first});
    const bool started = viewer.waitForStarted(10000) &&
        waitUntil([&] { return QFileInfo(first).size() > 0 || viewer.state() != QProcess::Running; }, 60000) &&
        QFileInfo(first).size() > 0;
    if (!started) {
        std::fprintf(stderr, "viewer_cost: %s did not start\n", qPrintable(program));
        return 1;
    }
    const qint64 pid = viewer.processId();

    QUdpSocket sender;
    int sent = 0;
    bool flying = false;
    Tavik tavik = Tavik::None;
    QTimer stream;
    stream.setTimerType(Qt::PreciseTimer);
    stream.setInterval(20);
    QObject::connect(&stream, &QTimer::timeout, [&] {
        sender.writeDatagram(datagram(flying, flying ? sent : 0, tavik), QHostAddress::LocalHost, port);
        ++sent;
    });
    auto measure = [&] {
        const double p0 = cpuSeconds(pid), x0 = cpuSeconds(x.pid());
        QElapsedTimer t;
        t.start();
        runFor(kMeasureMs);
        const double s = t.elapsed() / 1000.0;
        return Cost{(cpuSeconds(pid) - p0) / s * 100, (cpuSeconds(x.pid()) - x0) / s * 100};
    };

    runFor(3000); // no datagram for 3 s, no input
    const Cost idle = measure();
    stream.start(); // a landed aircraft, motors off: the same state 50 times a second
    runFor(3000);
    const Cost landed = measure();
    flying = true;
    runFor(3000);
    const Cost flight = measure();
    flying = false;
    tavik = Tavik::Flying;
    runFor(1000);
    tavik = Tavik::Landing;
    runFor(6000); // the arms take 5 s to come down
    const Cost tavikHold = measure(); // landed, the motors still running: the fans turn
    tavik = Tavik::MotorsOff;
    runFor(3000);
    const Cost tavikLanded = measure();
    stream.stop();
    const double rss = statusMB(pid, "VmRSS:"), peak = statusMB(pid, "VmHWM:");
    viewer.terminate();
    if (!viewer.waitForFinished(5000))
        viewer.kill();

    // Frame time in-process, the same scene with a flying aircraft.
    auto* window = new QuvorSimulator(nullptr, 0);
    window->show();
    if (!waitUntil([&] { return window->isInitialised(); }, 30000)) {
        std::fprintf(stderr, "viewer_cost: OGRE did not start in-process\n");
        return 1;
    }
    runFor(200);
    std::vector<double> ms, cpu;
    QElapsedTimer timer;
    for (int i = 0; i < 500; ++i) {
        window->handleDatagram(datagram(true, i));
        const double c = processCpuMs();
        timer.start();
        gRoot->renderOneFrame();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        cpu.push_back(processCpuMs() - c);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());

    // The trace: whole paints (the frame and the line upkeep after it) with the trace shown.
    window->setTraceVisible(true);
    int frame = 500;
    auto paints = [&](int count, bool keepEmpty) {
        Frames f;
        for (int i = 0; i < count; ++i, ++frame) {
            window->handleDatagram(datagram(true, frame));
            if (keepEmpty)
                window->clearTracePoints(); // the flight itself adds a point every 300 ms
            const double c = processCpuMs();
            timer.start();
            window->repaint();
            f.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            f.cpu.push_back(processCpuMs() - c);
        }
        std::sort(f.ms.begin(), f.ms.end());
        std::sort(f.cpu.begin(), f.cpu.end());
        return f;
    };
    const Frames emptyTrace = paints(500, true);
    // The points a flight leaves behind: where the aircraft was drawn (less its lift above the
    // trace), a few per paint between its last two positions.
    auto tracePosition = [&] {
        return window->currentModel()->bodyNode()->_getDerivedPosition() - Ogre::Vector3(0, 210, 0);
    };
    Ogre::Vector3 last = tracePosition();
    for (int k = 0; k < kTracePoints;) {
        window->handleDatagram(datagram(true, frame++));
        window->repaint();
        const Ogre::Vector3 now = tracePosition();
        for (int j = 1; j <= kTracePointsPerPaint && k < kTracePoints; ++j, ++k)
            window->appendTracePoint(last + (now - last) * (float(j) / kTracePointsPerPaint));
        last = now;
    }
    const Frames fullTrace = paints(500, false);
    const int sections = window->mSceneMgr->hasManualObject("mTraceDrawer")
        ? int(window->mSceneMgr->getManualObject("mTraceDrawer")->getSections().size())
        : -1;

    auto at = [](const std::vector<double>& v, double q) {
        return v[std::min(v.size() - 1, size_t(double(v.size()) * q))];
    };

    std::printf("%-44s %8s %8s\n", "state (10 s each)", "program", "Xvfb");
    std::printf("%-44s %7.1f%% %7.1f%%\n", "idle (no datagram for 3 s, no input)", idle.program, idle.xserver);
    std::printf("%-44s %7.1f%% %7.1f%%\n", "landed, motors off, 50 identical states/s", landed.program, landed.xserver);
    std::printf("%-44s %7.1f%% %7.1f%%\n", "flying, motors on, 50 states/s", flight.program, flight.xserver);
    std::printf("%-44s %7.1f%% %7.1f%%\n", "Tavik landed, motors on, 50 states/s", tavikHold.program,
                tavikHold.xserver);
    std::printf("%-44s %7.1f%% %7.1f%%\n", "Tavik landed, motors off, 50 states/s", tavikLanded.program,
                tavikLanded.xserver);
    std::printf("renderOneFrame at 800 x 600 (500 frames): median %.1f ms, p99 %.1f ms; CPU per frame (all threads) "
                "median %.1f ms\n",
                at(ms, 0.5), at(ms, 0.99), at(cpu, 0.5));
    // CPU per paint beside the wall time: the wall time also holds what other processes take.
    std::printf("trace 0 points: frame median %.1f ms, p99 %.1f ms (CPU median %.1f ms)\n", at(emptyTrace.ms, 0.5),
                at(emptyTrace.ms, 0.99), at(emptyTrace.cpu, 0.5));
    std::printf("trace %d points: frame median %.1f ms, p99 %.1f ms (CPU median %.1f ms)\n", kTracePoints,
                at(fullTrace.ms, 0.5), at(fullTrace.ms, 0.99), at(fullTrace.cpu, 0.5));
    std::printf("trace line sections after %d points appended %d per paint: %d\n", kTracePoints, kTracePointsPerPaint,
                sections);
    std::printf("program resident memory: %.0f MB (peak %.0f MB)\n", rss, peak);
    std::printf("load at end %s\n", loadAverage().constData());
    std::fflush(stdout);
    x.stop();
    std::_Exit(0); // OGRE and the window end with the process
}
