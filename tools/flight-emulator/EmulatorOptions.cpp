#include "tools/flight-emulator/EmulatorOptions.h"

#include "common/ProgramInfo.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace emu {

namespace {

bool parseInteger(const std::string& text, unsigned long long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

} // namespace

bool parseOptions(const std::vector<std::string>& args, EmulatorOptions& options, std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const auto word = ProgramInfo::splitOption(args[i]);
        const std::string& name = word.name;
        std::string value = word.value;
        const bool hasValue = word.hasValue;
        if (name == "--help" || name == "-h" || name == "--version") {
            if (hasValue) {
                error = "option " + name + " takes no value";
                return false;
            }
            (name == "--version" ? options.version : options.help) = true;
            continue;
        }
        const bool known = name == "--link" || name == "--product" || name == "--rate" || name == "--mission" ||
            name == "--seed" || name == "--faults";
        if (!known) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }

        if (name == "--link") {
            if (value.empty()) {
                error = "--link needs a path";
                return false;
            }
            options.linkPath = value;
        } else if (name == "--product") {
            const auto product = productFromName(value);
            if (!product) {
                error = "unknown product '" + value + "' (use tavik, nerio or vx7)";
                return false;
            }
            options.session.product = *product;
        } else if (name == "--mission") {
            const auto mission = missionFromName(value);
            if (!mission) {
                error = "unknown mission '" + value + "' (use hover, square or circle)";
                return false;
            }
            options.session.mission = *mission;
        } else if (name == "--rate") {
            unsigned long long rate = 0;
            if (!parseInteger(value, rate) || rate < 1 || rate > kMaxRateHz) {
                error = "--rate must be a whole number of Hz from 1 to " + std::to_string(kMaxRateHz) + ", not '" +
                    value + "'";
                return false;
            }
            options.session.rateHz = static_cast<int>(rate);
        } else if (name == "--seed") {
            unsigned long long seed = 0;
            if (!parseInteger(value, seed)) {
                error = "--seed must be a non-negative whole number, not '" + value + "'";
                return false;
            }
            options.session.seed = seed;
        } else if (name == "--faults") {
            char* end = nullptr;
            const double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(rate) || rate < 0.0 || rate > 1.0) {
                error = "--faults must be a fraction from 0 to 1, not '" + value + "'";
                return false;
            }
            options.faultRate = rate;
        }
    }
    return true;
}

std::string usageText(const std::string& program)
{
    return "Usage: " + program +
        " [options]\n"
        "Takes the flight controller's place on a pseudo-terminal: point the host at the\n"
        "link (QuvorSimulator --port /tmp/quvor-fc). One line per event on standard output;\n"
        "when the host closes the port the emulator waits for the next one.\n"
        "\n"
        "Options:\n"
        "  --link PATH        symbolic link to the pseudo-terminal (default /tmp/quvor-fc)\n"
        "  --product NAME     tavik, nerio or vx7 (default tavik)\n"
        "  --rate HZ          flight states per second, 1 to 1000 (default 50)\n"
        "  --mission NAME     hover, square or circle (default square)\n"
        "  --seed N           seed of the wind and the faults (default 1)\n"
        "  --faults RATE      fraction of sent bytes dropped or corrupted (default 0)\n"
        "  --version          print the version and exit\n"
        "  --help             this text\n"
        "\n"
        "Exit status:\n"
        "  0 when stopped by Ctrl+C, SIGTERM or SIGHUP; 1 when the pseudo-terminal or its\n"
        "  link cannot be made (also while another emulator serves the link); 2 for a bad\n"
        "  option.\n";
}

} // namespace emu
