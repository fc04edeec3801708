// QuvorFlightEmulator: stands in for the aircraft's flight controller on a
// pseudo-terminal, so the host can be run and tested without an aircraft.

#include "tools/flight-emulator/EmulatorLoop.h"

#include "common/Console.h"
#include "common/ProgramInfo.h"
#include "link/ConsoleLog.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gStopPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(gStopPipe[1], &c, 1);
}

void event(const std::string& line) { Console::out((line + '\n').c_str(), Console::Flush::Now); }

} // namespace

int main(int argc, char** argv)
{
    const std::string program = "QuvorFlightEmulator";
    emu::EmulatorOptions options;
    std::string error;
    if (!emu::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        Console::err((program + ": " + error + "\nTry '" + program + " --help'.\n").c_str());
        return 2;
    }
    if (options.help) {
        Console::out(emu::usageText(program).c_str());
        return 0;
    }
    if (options.version) {
        Console::out(ProgramInfo::versionText(QString::fromStdString(program)));
        return 0;
    }
    // Standard output carries one line per event; link diagnostics go to the error stream.
    ConsoleLogger::global().setStream(stderr);

    if (pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int code = errno;
        Console::err((std::string("pipe: ") + std::strerror(code) + '\n').c_str());
        return 1;
    }
    struct sigaction sa { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    emu::PseudoTerminal terminal;
    if (!terminal.open(error)) {
        Console::err((program + ": " + error + '\n').c_str());
        return 1;
    }
    if (!terminal.makeLink(options.linkPath, error)) {
        Console::err((program + ": " + error + '\n').c_str());
        return 1;
    }
    event("pseudo-terminal " + terminal.hostPath() + ", link " + options.linkPath + ", product " +
          productTypeName(options.session.product) + ", mission " + emu::missionName(options.session.mission) + ", " +
          std::to_string(options.session.rateHz) + " Hz");

    emu::EmulatorLoop loop(options, terminal, event);
    const bool ok = loop.run(gStopPipe[0]);
    terminal.close(); // removes the link
    event("exit");
    return ok ? 0 : 1;
}
