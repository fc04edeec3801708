// Checksum and framing throughput. The decode benchmark should reach at least
// 0.8 of the bare CRC-16 pass over the same bytes.
#include "link/ConsoleLog.h"
#include "link/Package.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr size_t kFrames = 2000;
constexpr size_t kFlightStatePayload = 58; // 71-byte frames

// Flight-state frames as the aircraft streams them, every 100th one corrupted.
const std::vector<uint8_t>& flightStateStream()
{
    static const std::vector<uint8_t> stream = [] {
        std::mt19937 random(7);
        std::vector<uint8_t> out;
        for (size_t i = 0; i < kFrames; ++i) {
            std::vector<uint8_t> payload(kFlightStatePayload);
            for (uint8_t& b : payload)
                b = uint8_t(random());
            std::vector<uint8_t> frame =
                buildPackageFrom(makeAddress(3, 0), 11, 6, payload.data(), payload.size(), 10, 0, uint16_t(i));
            if (i % 100 == 50)
                frame[20] ^= 0x5A;
            out.insert(out.end(), frame.begin(), frame.end());
        }
        return out;
    }();
    return stream;
}

void BM_Crc8(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = flightStateStream();
    for (auto _ : state)
        benchmark::DoNotOptimize(calcHeaderCrc(bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_Crc8);

void BM_Crc16(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = flightStateStream();
    for (auto _ : state)
        benchmark::DoNotOptimize(calcFrameCrc(bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_Crc16);

// The listener thread's path: append a read, run the reassembly loop.
// Argument: bytes per read.
void BM_DecodeFlightStates(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = flightStateStream();
    const size_t chunk = size_t(state.range(0));
    // The checksum errors are logged as in the program, into the void.
    FILE* sink = fopen("/dev/null", "w");
    FILE* previous = ConsoleLogger::global().setStream(sink);
    PackageAssembler assembler;
    size_t frames = 0;
    const auto count = [&frames](const PackageProperty_V1* frame, size_t) {
        benchmark::DoNotOptimize(frame);
        ++frames;
    };
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size(); at += chunk)
            assembler.feed(bytes.data() + at, std::min(chunk, bytes.size() - at), count);
    }
    ConsoleLogger::global().setStream(previous);
    if (sink)
        fclose(sink);
    if (frames != state.iterations() * (kFrames - kFrames / 100))
        state.SkipWithError("wrong number of frames decoded");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
    state.counters["frames/s"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFlightStates)->Arg(64)->Arg(512)->Arg(4096);

} // namespace

BENCHMARK_MAIN();
