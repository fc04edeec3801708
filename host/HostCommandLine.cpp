#include "host/HostCommandLine.h"

#include "common/ProgramInfo.h"
#include "common/StateDatagram.h"
#include "link/Serial.h"
#include "link/PortDiagnosis.h"

#include <cerrno>
#include <cstring>

QString hostUsage()
{
    return QStringLiteral("Usage: QuvorSimulator [--port PATH] [--auto-start] [--no-auto-ui] [--side-by-side]\n"
                          "                      [--udp-to HOST[:PORT]]...\n"
                          "Options:\n"
                          "  --port PATH    open PATH as the aircraft's serial port at start-up\n"
                          "                 (no USB id check; a name without '/' means /dev/NAME)\n"
                          "  --auto-start   press \"Start Simulation\" once the aircraft is connected\n"
                          "  --no-auto-ui   do not start the visualiser at start-up, whatever the\n"
                          "                 saved \"Auto Executing UI\" choice (for scripts that start it)\n"
                          "  --side-by-side\n"
                          "                 place the dialog beside the 3D view (as when the host starts\n"
                          "                 the view itself), not in the middle of the screen\n"
                          "  --udp-to HOST[:PORT]\n"
                          "                 send the state datagrams to HOST (a name or an IPv4\n"
                          "                 address), port PORT or 5566, instead of 127.0.0.1 or the\n"
                          "                 broadcast address; repeat it for several destinations\n"
                          "  --version      print the version and exit\n"
                          "  --help         show this text\n"
                          "Without --port the aircraft is found when its USB port appears.\n"
                          "\n"
                          "Exit status:\n"
                          "  0 when the dialog is closed, 1 when the --port cannot be opened, 2 for a bad\n"
                          "  option.\n");
}

CommandLineResult parseHostCommandLine(const QStringList& arguments, HostOptions& options, QString& error)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        const auto word = ProgramInfo::splitOption(arg);
        const bool flag = !word.hasValue;
        if (flag && (arg == QLatin1String("--help") || arg == QLatin1String("-h")))
            return CommandLineHelp;
        if (flag && arg == QLatin1String("--version"))
            return CommandLineVersion;
        if (flag && arg == QLatin1String("--auto-start")) {
            options.autoStart = true;
        } else if (flag && arg == QLatin1String("--no-auto-ui")) {
            options.noAutoUi = true;
        } else if (flag && arg == QLatin1String("--side-by-side")) {
            options.sideBySide = true;
        } else if (word.name == QLatin1String("--port")) {
            const QString path = word.hasValue ? word.value : arguments.value(i + 1);
            if (path.isEmpty()) {
                error = QStringLiteral("--port needs a device path");
                return CommandLineError;
            }
            if (!word.hasValue)
                ++i;
            options.port = path;
        } else if (word.name == QLatin1String("--udp-to")) {
            if (!word.hasValue && i + 1 >= arguments.size()) {
                error = QStringLiteral("--udp-to needs HOST[:PORT]");
                return CommandLineError;
            }
            UdpDestination to;
            if (!parseUdpDestination(word.hasValue ? word.value : arguments.at(++i), StateDatagram::Port, to, error)) {
                error = QStringLiteral("--udp-to: ") + error;
                return CommandLineError;
            }
            options.udpTo.append(to);
        } else {
            error = QStringLiteral("unknown option '%1'").arg(arg);
            return CommandLineError;
        }
    }
    return CommandLineOk;
}

QString portDevicePath(const QString& port) { return QString::fromStdString(CSerial::devicePath(port.toStdString())); }

QString portOpenErrorText(const QString& port, int code)
{
    const QString path = portDevicePath(port);
    if (code == EACCES || code == EPERM)
        return QStringLiteral("no permission to open the aircraft port %1. %2")
            .arg(path, PortDiagnosis::permissionText(path))
            .trimmed();
    if (code == EBUSY || code == EAGAIN)
        return QStringLiteral("the aircraft port %1 is in use by another program.").arg(path);
    const QString text =
        QStringLiteral("cannot open the aircraft port %1: %2.").arg(path, QString::fromLocal8Bit(std::strerror(code)));
    return code == ENOENT || code == ENXIO || code == ENODEV ? text + ' ' + PortDiagnosis::existingPortsText() : text;
}
