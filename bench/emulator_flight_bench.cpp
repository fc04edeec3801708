// How much faster than real time the emulator's flight runs, and what one
// streamed flight state costs to produce.

#include "tools/flight-emulator/FlightControllerSession.h"
#include "tools/flight-emulator/FlightSimulation.h"

#include "link/Package.h"
#include "tests/tools/flight-emulator/SimulationPayloads.h"

#include <benchmark/benchmark.h>

using namespace emu;

// One second of a square mission in flight (1000 control cycles); the
// real-time factor is 1 s divided by the time per iteration.
static void BM_FlightSecond(benchmark::State& state)
{
    FlightSimulation sim(MissionKind::Square, 1, true);
    sim.advanceTo(10.0); // in the pattern
    double t = sim.time();
    for (auto _ : state) {
        t += 1.0;
        if (t > 40.0) {
            state.PauseTiming();
            sim = FlightSimulation(MissionKind::Square, 1, true);
            sim.advanceTo(10.0);
            t = 11.0;
            state.ResumeTiming();
        }
        sim.advanceTo(t);
        benchmark::DoNotOptimize(sim.body().position.x);
    }
    state.counters["sim_s_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FlightSecond)->Unit(benchmark::kMicrosecond);

// One 1 ms step of a streaming session at 1000 Hz: flight, record, frame.
static void BM_StreamedState(benchmark::State& state)
{
    size_t bytes = 0;
    FlightControllerSession session(
        {MissionKind::Square, ProductTavik1, 1, 1000},
        {[&](std::vector<uint8_t> frame, bool) { bytes += frame.size(); }, [](const std::string&) {}});
    auto host = [&](uint8_t id, std::vector<uint8_t> payload) {
        const auto f = buildPackage(11, id, payload.data(), payload.size(), 3, 0, 0);
        session.onFrame(PackageProperty_V1::from(f.data()), f.size(), 0.0);
    };
    host(1, {0, 1, 0, 0});
    host(4, emutest::environmentPayload(0.4, 1.9));
    double now = 0.0;
    for (auto _ : state) {
        now += 0.001;
        session.advance(now);
    }
    state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_StreamedState);

BENCHMARK_MAIN();
