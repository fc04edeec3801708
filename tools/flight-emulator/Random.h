#pragma once
// Seeded random numbers that come out the same on every platform and library:
// mt19937_64 is fully specified, the standard distributions are not.

#include "common/Angles.h"

#include <cmath>
#include <cstdint>
#include <random>

namespace emu {

class Random {
public:
    explicit Random(uint64_t seed) : mEngine(seed) { }

    double uniform() { return static_cast<double>(mEngine() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    uint8_t byte() { return static_cast<uint8_t>(mEngine() >> 56); }
    double gaussian()
    {
        // Box-Muller; 1 - u keeps the logarithm finite.
        const double u1 = 1.0 - uniform(), u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * Pi * u2);
    }

private:
    std::mt19937_64 mEngine;
};

} // namespace emu
