// Visualiser costs: one rendered frame at 800 x 600, one datagram from bytes to
// the pose hand-over, and the resident memory once the scene is up. The frame
// benchmark needs an X server (run under xvfb-run with Mesa's llvmpipe).
#include "viewer/app/QuvorSimulator.h"
#include "viewer/models/QuvorModel.h"
#include "viewer/view/TiledFloor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <Ogre.h>
#include <OgreCompositionPass.h>
#include <OgreCompositionTargetPass.h>
#include <OgreCompositionTechnique.h>
#include <OgreCompositorChain.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <clocale>
#include <ctime>
#include <vector>

namespace {
QuvorSimulator* window()
{
    static QuvorSimulator* w = [] {
        auto* win = new QuvorSimulator(nullptr, 0);
        win->show();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        return win;
    }();
    return w;
}

double residentMB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QByteArray stateDatagram(int i)
{
    return QStringLiteral(R"({"Roll":0.05,"Pitch":-0.02,"Yaw":%1,"WorldX":%2,"WorldY":1.5,"WorldZ":2,)"
                          R"("WorldLatitude":28.6479,"WorldLongitude":114.592,"VelocityX":0.5,"VelocityY":0,)"
                          R"("VelocityZ":-0.25,"Time":%3,"TransformState":0,"MotorStarted":1,"FlyingState":1,)"
                          R"("ProductType":2,"SenderIP":"127.0.0.1","SimulatorCommand":1})")
        .arg(0.001 * (i % 1000))
        .arg(0.01 * (i % 1000))
        .arg(i * 20)
        .toUtf8();
}

void BM_RenderOneFrame(benchmark::State& state)
{
    QuvorSimulator* w = window();
    if (!w->isInitialised()) {
        state.SkipWithError("OGRE did not start (no X server?)");
        return;
    }
    w->handleDatagram(stateDatagram(0));
    std::vector<double> ms;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        gRoot->renderOneFrame();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    state.counters["rss_MB"] = residentMB();
}
BENCHMARK(BM_RenderOneFrame)->Iterations(500)->Unit(benchmark::kMillisecond);

// Where the frame time goes: the same frame with one part of the scene switched off.
enum class Part { None, Sky, Floor, Shadows, Model, Glow, Overlays, FloorTiles, GlowWithoutSky };

void setPart(QuvorSimulator* w, Part part, bool on)
{
    Ogre::SceneManager* scene = w->mSceneMgr;
    switch (part) {
    case Part::None: break;
    case Part::Sky: scene->setSkyDomeEnabled(on); break;
    case Part::Floor:
        w->tiledFloor()->setEnabled(on);
        scene->getEntity("Floor")->setVisible(false);
        break;
    case Part::FloorTiles: w->tiledFloor()->setEnabled(on); break; // the whole floor entity draws instead
    case Part::Shadows:
        scene->setShadowTechnique(on ? Ogre::SHADOWTYPE_TEXTURE_MODULATIVE : Ogre::SHADOWTYPE_NONE);
        break;
    case Part::Model: w->currentModel()->bodyNode()->setVisible(on, true); break;
    case Part::Glow: Ogre::CompositorManager::getSingleton().setCompositorEnabled(w->mViewport, "Glow", on); break;
    case Part::Overlays: w->mViewport->setOverlaysEnabled(on); break;
    case Part::GlowWithoutSky: { // off: the glow's scene pass draws the (black) sky as well
        Ogre::CompositorChain* chain = Ogre::CompositorManager::getSingleton().getCompositorChain(w->mViewport);
        for (Ogre::CompositionTargetPass* target : chain->getCompositor("Glow")->getTechnique()->getTargetPasses())
            for (Ogre::CompositionPass* pass : target->getPasses())
                if (pass->getType() == Ogre::CompositionPass::PT_RENDERSCENE)
                    pass->setFirstRenderQueue(on ? Ogre::RENDER_QUEUE_1 : Ogre::RENDER_QUEUE_BACKGROUND);
        chain->_markDirty();
        break;
    }
    }
}

void BM_FrameWithout(benchmark::State& state)
{
    QuvorSimulator* w = window();
    if (!w->isInitialised()) {
        state.SkipWithError("OGRE did not start (no X server?)");
        return;
    }
    w->handleDatagram(stateDatagram(0));
    const Part part = Part(state.range(0));
    const char* names[] = {"nothing",  "sky",         "floor",
                           "shadows",  "model",       "glow",
                           "overlays", "floor tiles", "the sky left out of the glow pass"};
    state.SetLabel(std::string("without ") + names[state.range(0)]);
    setPart(w, part, false);
    gRoot->renderOneFrame(); // settles anything the switch rebuilds
    std::vector<double> ms, cpu;
    QElapsedTimer timer;
    for (auto _ : state) {
        const double cpuBefore = processCpuMs();
        timer.start();
        gRoot->renderOneFrame();
        ms.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(processCpuMs() - cpuBefore);
    }
    setPart(w, part, true);
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    // All threads (the software rasteriser draws on several): steadier than wall time on a busy machine.
    state.counters["cpu_median_ms"] = cpu[cpu.size() / 2];
}
BENCHMARK(BM_FrameWithout)->DenseRange(0, 8)->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_HandleDatagram(benchmark::State& state)
{
    QuvorSimulator* w = window();
    std::vector<QByteArray> datagrams;
    for (int i = 0; i < 1000; ++i)
        datagrams.push_back(stateDatagram(i));
    size_t i = 0;
    for (auto _ : state) {
        w->handleDatagram(datagrams[i++ % datagrams.size()]);
        benchmark::DoNotOptimize(w->viewState());
    }
}
BENCHMARK(BM_HandleDatagram)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
