#pragma once
// Damages outgoing bytes on purpose so the host's resynchronisation can be
// exercised: each byte is, with the given probability, dropped or flipped.

#include "tools/flight-emulator/Random.h"

#include <vector>

namespace emu {

class FaultInjector {
public:
    FaultInjector(double rate, uint64_t seed);

    void apply(std::vector<uint8_t>& bytes);

    uint64_t dropped() const { return mDropped; }
    uint64_t corrupted() const { return mCorrupted; }

private:
    double mRate;
    Random mRandom;
    uint64_t mDropped = 0, mCorrupted = 0;
};

} // namespace emu
