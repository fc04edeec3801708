#include "tools/replay/ReplayOptions.h"

#include "common/ProgramInfo.h"

#include <QRegularExpression>
#include <QVector>

#include <cmath>

namespace replay {
namespace {

bool parseSeconds(const QString& text, qint64& ms)
{
    static const QRegularExpression plain(R"(^\d+(\.\d*)?$|^\.\d+$)");
    if (!plain.match(text).hasMatch())
        return false;
    const double seconds = text.toDouble();
    if (!std::isfinite(seconds) || seconds > 1e9)
        return false;
    ms = qint64(std::llround(seconds * 1000));
    return true;
}

// A number or a fraction such as 1/64, as the help writes the range.
bool parseSpeed(const QString& text, double& speed)
{
    const QStringList parts = text.split('/');
    if (parts.size() > 2)
        return false;
    bool ok = false;
    speed = parts[0].toDouble(&ok);
    if (ok && parts.size() == 2) {
        const double divisor = parts[1].toDouble(&ok);
        ok = ok && divisor > 0;
        speed = ok ? speed / divisor : 0;
    }
    return ok && std::isfinite(speed);
}

} // namespace

const QVector<double>& windowSpeeds()
{
    static const QVector<double> speeds = {0.25, 0.5, 1, 2, 4, 8, 16};
    return speeds;
}

QString usageText(const QString& program)
{
    return QString("Usage: %1 FILE [options]\n"
                   "Plays a visualiser recording (udp.txt or trace.txt) back to the visualiser.\n"
                   "\n"
                   "Options:\n"
                   "  --no-gui            play without a window (progress on a terminal)\n"
                   "  --speed S           speed factor, from 1/64 to 1024 (default 1)\n"
                   "  --from SECONDS      start at this recording time\n"
                   "  --to SECONDS        stop at this recording time\n"
                   "  --loop              start over at the end\n"
                   "  --to HOST[:PORT]    send there (default 127.0.0.1:5566)\n"
                   "  --broadcast         send to 255.255.255.255\n"
                   "  --local             send \"SenderIP\" as 127.0.0.1\n"
                   "  --summary           print the flight at a glance and exit\n"
                   "  --plot OUT.png      write the plots to a picture and exit\n"
                   "  --choose-file       without FILE, open the window with a file chooser\n"
                   "  --version           print the version and exit\n"
                   "  --export OUT.csv    write every state as a CSV row and exit (with --run K,\n"
                   "                      --from and --to: one run, a time window in it)\n"
                   "  --run K             the K-th run of the recording (1-based), for --export\n"
                   "                      and --checks\n"
                   "  --checks FILE.toml  judge the recording (as QuvorCheck) and mark every failed\n"
                   "                      check on the timeline and the plots\n"
                   "  --help              this text\n"
                   "\n"
                   "Exit status:\n"
                   "  0 at the end, 1 for a file that cannot be read or holds no state, a datagram\n"
                   "  that could not be sent, a file that changed while it played (and for the\n"
                   "  window without a display), 2 for a bad option, 130 when stopped by Ctrl+C.\n")
        .arg(program);
}

bool parseOptions(const QStringList& args, ReplayOptions& o, QString& error)
{
    static const QStringList withValue = {"--speed", "--from", "--to", "--plot", "--export", "--run", "--checks"};
    static const QStringList flags = {"--help",    "-h",     "--version",   "--choose-file", "--no-gui",
                                      "--summary", "--loop", "--broadcast", "--local"};
    for (int i = 0; i < args.size(); ++i) {
        const auto word = ProgramInfo::splitOption(args[i]);
        const QString& name = word.name;
        QString value = word.value;
        const bool hasValue = word.hasValue;
        if (!name.startsWith('-') || name == "-") {
            if (!o.file.isEmpty()) {
                error = QString("more than one file: '%1' and '%2'").arg(o.file, name);
                return false;
            }
            o.file = name;
            continue;
        }
        if (flags.contains(name)) {
            if (hasValue) {
                error = QString("option %1 takes no value").arg(name);
                return false;
            }
            if (name == "--help" || name == "-h")
                o.help = true;
            else if (name == "--version")
                o.version = true;
            else if (name == "--choose-file")
                o.chooseFile = true;
            else if (name == "--no-gui")
                o.noGui = true;
            else if (name == "--summary")
                o.summary = true;
            else if (name == "--loop")
                o.loop = true;
            else if (name == "--broadcast")
                o.broadcast = true;
            else
                o.local = true;
            continue;
        }
        if (!withValue.contains(name)) {
            error = QString("unknown option '%1'").arg(name);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = QString("option %1 needs a value").arg(name);
                return false;
            }
            value = args[++i];
        }
        if (name == "--speed") {
            double speed = 0;
            if (!parseSpeed(value, speed) || speed < 1.0 / 64 || speed > 1024) {
                error = QString("--speed must be a number from 1/64 to 1024, not '%1'").arg(value);
                return false;
            }
            o.speed = speed;
        } else if (name == "--from") {
            if (!parseSeconds(value, o.fromMs)) {
                error = QString("--from needs a time in seconds, not '%1'").arg(value);
                return false;
            }
        } else if (name == "--to") {
            if (parseSeconds(value, o.toMs))
                continue;
            // HOST or HOST:PORT
            QString host = value;
            const int colon = value.lastIndexOf(':');
            if (colon >= 0) {
                bool ok = false;
                const uint port = value.mid(colon + 1).toUInt(&ok);
                if (!ok || port < 1 || port > 65535) {
                    error =
                        QString("--to needs seconds or HOST[:PORT] with a port from 1 to 65535, not '%1'").arg(value);
                    return false;
                }
                o.port = quint16(port);
                host = value.left(colon);
            }
            if (host.isEmpty() || host.contains(':')) {
                error = QString("--to needs seconds or HOST[:PORT], not '%1'").arg(value);
                return false;
            }
            o.host = host;
        } else if (name == "--plot") {
            if (value.isEmpty()) {
                error = "--plot needs a file name";
                return false;
            }
            o.plotFile = value;
        } else if (name == "--export") {
            if (value.isEmpty()) {
                error = "--export needs a file name";
                return false;
            }
            o.exportFile = value;
        } else if (name == "--checks") {
            if (value.isEmpty()) {
                error = "--checks needs a check file";
                return false;
            }
            o.checksFile = value;
        } else if (name == "--run") {
            bool ok = false;
            o.run = value.toInt(&ok);
            if (!ok || o.run < 1) {
                error = QString("--run needs a run number from 1, not '%1'").arg(value);
                return false;
            }
        }
    }
    if (o.help || o.version)
        return true;
    if (o.file.isEmpty()) {
        // The window may open a file itself.
        if (o.noGui || o.summary || !o.plotFile.isEmpty() || !o.exportFile.isEmpty()) {
            error = "no recording given";
            return false;
        }
    }
    if (o.run > 0 && o.exportFile.isEmpty() && o.checksFile.isEmpty()) {
        error = "--run belongs to --export or --checks";
        return false;
    }
    if (!o.checksFile.isEmpty() && (o.noGui || o.summary || !o.exportFile.isEmpty() || o.file.isEmpty())) {
        error = "--checks marks the window or --plot of a recording given";
        return false;
    }
    if (o.fromMs >= 0 && o.toMs >= 0 && o.toMs < o.fromMs) {
        error = "--to lies before --from";
        return false;
    }
    return true;
}

QString clockText(qint64 ms)
{
    if (ms < 0)
        ms = 0;
    const qint64 s = ms / 1000;
    return QString::asprintf("%lld:%02lld.%03lld", s / 60, s % 60, ms % 1000);
}

bool parseClockText(const QString& text, qint64& ms)
{
    static const QRegularExpression pattern(R"(^\s*(?:(?:(\d+):)?(\d+):)?(\d+)(?:\.(\d{0,3})\d*)?\s*$)");
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    const bool hasHours = !m.captured(1).isEmpty();
    const bool hasMinutes = !m.captured(2).isEmpty();
    const qint64 hours = m.captured(1).toLongLong();
    const qint64 minutes = m.captured(2).toLongLong();
    const qint64 seconds = m.captured(3).toLongLong();
    if (m.captured(3).size() > 9 || m.captured(2).size() > 9 || m.captured(1).size() > 6)
        return false;
    if (hasMinutes && seconds >= 60)
        return false;
    if (hasHours && minutes >= 60)
        return false;
    const QString fraction = m.captured(4).leftJustified(3, '0');
    ms = ((hours * 60 + minutes) * 60 + seconds) * 1000 + fraction.toLongLong();
    return true;
}

} // namespace replay
