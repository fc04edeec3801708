#pragma once
// Command line of the flight-controller emulator.

#include "tools/flight-emulator/FlightControllerSession.h"

#include <string>
#include <vector>

namespace emu {

struct EmulatorOptions {
    std::string linkPath = "/tmp/quvor-fc";
    SessionConfig session;
    double faultRate = 0.0; // fraction of sent bytes dropped or corrupted
    bool help = false;
    bool version = false;
};

constexpr int kMaxRateHz = 1000;

// Parses the arguments after the program name. On failure returns false with
// a message that names the offending option.
bool parseOptions(const std::vector<std::string>& args, EmulatorOptions& options, std::string& error);
std::string usageText(const std::string& program);

} // namespace emu
