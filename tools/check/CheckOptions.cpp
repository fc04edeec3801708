#include "tools/check/CheckOptions.h"

#include "common/ProgramInfo.h"

#include <cmath>

namespace check {

bool parseOptions(const QStringList& args, CheckOptions& o, QString& error)
{
    QStringList positional;
    bool udpPortGiven = false, timeoutGiven = false, runGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const auto word = ProgramInfo::splitOption(args[i]);
        const QString& arg = word.name;
        QString value = word.value;
        const bool inlineValue = word.hasValue;
        auto take = [&](QString& into) {
            if (inlineValue) {
                into = value;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = QString("%1 needs a value").arg(arg);
                return false;
            }
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (inlineValue && (arg == "--help" || arg == "--version" || arg == "--live")) {
            error = QString("%1 takes no value").arg(arg);
            return false;
        }
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--live") {
            o.live = true;
        } else if (arg == "--udp-port") {
            if (!take(value))
                return false;
            const uint port = value.toUInt(&ok);
            if (!ok || port > 65535) {
                error = QString("--udp-port takes a port from 0 to 65535, not \"%1\"").arg(value);
                return false;
            }
            o.udpPort = int(port);
            udpPortGiven = true;
        } else if (arg == "--timeout") {
            if (!take(value))
                return false;
            o.timeoutSeconds = value.toDouble(&ok);
            if (!ok || !std::isfinite(o.timeoutSeconds) || o.timeoutSeconds <= 0 || o.timeoutSeconds > 1e6) {
                error = QString("--timeout takes seconds above 0, not \"%1\"").arg(value);
                return false;
            }
            timeoutGiven = true;
        } else if (arg == "--record") {
            if (!take(o.recordFile))
                return false;
        } else if (arg == "--run") {
            if (!take(value))
                return false;
            o.run = value.toInt(&ok);
            if (!ok || o.run < 1) {
                error = QString("--run takes a run number from 1, not \"%1\"").arg(value);
                return false;
            }
            runGiven = true;
        } else if (arg == "--junit") {
            if (!take(o.junitFile))
                return false;
        } else if (arg == "--report") {
            if (!take(o.reportFile))
                return false;
        } else if (arg.startsWith('-') && arg != "-") {
            error = QString("unknown option %1").arg(arg);
            return false;
        } else {
            positional << args[i];
        }
    }
    if (o.help || o.version)
        return true;
    if (positional.isEmpty()) {
        error = "no check file given";
        return false;
    }
    o.checksFile = positional.takeFirst();
    if (o.live) {
        if (!positional.isEmpty()) {
            error = "--live takes no recording";
            return false;
        }
        if (runGiven) {
            error = "--run picks a flight of a recording, not of --live";
            return false;
        }
    } else {
        if (positional.size() != 1) {
            error = positional.isEmpty() ? "no recording given (or --live)" : "more than one recording given";
            return false;
        }
        o.recording = positional.first();
        for (const auto& [given, name] : {std::pair{udpPortGiven, "--udp-port"},
                                          {timeoutGiven, "--timeout"},
                                          {!o.recordFile.isEmpty(), "--record"}})
            if (given) {
                error = QString("%1 belongs to --live").arg(name);
                return false;
            }
    }
    return true;
}

QString usageText(const QString& program)
{
    return QString(R"(Usage: %1 CHECKS.toml RECORDING [--run K] [--junit FILE] [--report FILE.json]
  or:  %1 CHECKS.toml --live [--udp-port N] [--timeout S] [--record FILE] [--junit FILE] [--report FILE.json]
Judges a flight against the checks of a TOML file: a recorded flight (udp.txt
or trace.txt), or a live flight as its state datagrams arrive.

Options:
  --live             listen for state datagrams and judge the first flight; ends
                     when the flight ends
  --udp-port N       the port to listen on (default 5566, shared with the 3D view;
                     0 takes a free one, which the first line names)
  --timeout S        give up after S seconds: the checks are judged on the states
                     seen so far and "flight ended before the timeout" fails
  --record FILE      write every datagram received to FILE (udp.txt format)
  --run K            judge the K-th flight of the recording (default the longest)
  --junit FILE       JUnit XML: one testsuite, one testcase per check
  --report FILE      JSON report with the evidence of every check
  --version          print the version and exit
  --help             this text

A flight starts with the first state of a run and ends with the run's last
state (another SimulatorCommand, or 2.5 s without a state), or when the motors
stopped and stayed stopped for end_after_motors_stop seconds (default 3).

The check file holds name (the test suite) and optionally product (Tavik1,
Nerio3 or Vx7); a [run] table with end_after_motors_stop, min_duration,
max_duration, min_rate and max_gap; and [[check]] tables with name, value, min
and/or max, then for (held without a break for that many seconds somewhere),
from and to (a window in seconds since the first state), or at alone ("start"
or "end": the first or last state). A check without for and at holds for every
state of its window. Values: height, climb, speed, tilt, distance, roll, pitch, yaw, or a
numeric datagram key by its name (VelocityX, MotorStarted, ...).

Exit status:
  0 every check passed, 1 a check failed (or no flight), 2 a bad option or a
  check file that does not parse (the message names the line).
)")
        .arg(program);
}

} // namespace check
