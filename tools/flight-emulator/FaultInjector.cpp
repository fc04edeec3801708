#include "tools/flight-emulator/FaultInjector.h"

namespace emu {

// A stream of its own, so switching faults on does not change the flight.
FaultInjector::FaultInjector(double rate, uint64_t seed) : mRate(rate), mRandom(seed ^ 0x9E3779B97F4A7C15ull) { }

void FaultInjector::apply(std::vector<uint8_t>& bytes)
{
    if (mRate <= 0.0)
        return;
    size_t kept = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        uint8_t b = bytes[i];
        if (mRandom.uniform() < mRate) {
            if (mRandom.uniform() < 0.5) {
                ++mDropped;
                continue;
            }
            b ^= static_cast<uint8_t>(1u << (mRandom.byte() & 7));
            ++mCorrupted;
        }
        bytes[kept++] = b;
    }
    bytes.resize(kept);
}

} // namespace emu
