#include "viewer/app/ViewerApp.h"

#include "common/Console.h"
#include "common/ProgramInfo.h"

#include <QApplication>

#include <clocale>

namespace {

const char kProgram[] = "QuvorSimulatorUI";

QString usage()
{
    return QStringLiteral("Usage: QuvorSimulatorUI [options]\n"
                          "Shows the aircraft that the host reports, flying in a 3D scene; right-click for Setup.\n"
                          "\n"
                          "Options:\n"
                          "  --screenshot FILE     write a PNG of the rendered view after the first frames\n"
                          "  --quit-after SECONDS  end the program after this many seconds\n"
                          "  --udp-port PORT       receive the states on this UDP port instead of 5566\n"
                          "  --side-by-side        place the window beside the host's dialog (left, or above\n"
                          "                        on a narrow screen) instead of in the middle of the screen\n"
                          "  --follow-camera       camera follows the aircraft in this run (\"movable camera\"\n"
                          "                        on), without changing the saved setting\n"
                          "  --version             print the version and exit\n"
                          "  --help                show this text\n"
                          "\n"
                          "Exit status:\n"
                          "  0 when the window is closed, 1 without a display, 2 for a bad option.\n");
}

int badOption(const QString& text)
{
    Console::err(QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(kProgram, text));
    return 2;
}

// Reads the options before any window system is needed, so that --help,
// --version and a bad option work without a display.
bool parse(const QStringList& args, ViewerApp::Setup& setup, int& exitCode)
{
    for (int i = 0; i < args.size(); ++i) {
        const auto word = ProgramInfo::splitOption(args[i]);
        const QString& name = word.name;
        QString value = word.value;
        const bool hasValue = word.hasValue;
        const bool flag = name == "--help" || name == "-h" || name == "--version" || name == "--side-by-side" ||
            name == "--follow-camera";
        const bool withValue = name == "--screenshot" || name == "--quit-after" || name == "--udp-port";
        if (!flag && !withValue) {
            exitCode = badOption(QStringLiteral("unknown option '%1'").arg(name));
            return false;
        }
        if (flag && hasValue) {
            exitCode = badOption(QStringLiteral("option %1 takes no value").arg(name));
            return false;
        }
        if (withValue && !hasValue) {
            if (i + 1 >= args.size()) {
                exitCode = badOption(QStringLiteral("option %1 needs a value").arg(name));
                return false;
            }
            value = args[++i];
        }
        if (name == "--help" || name == "-h") {
            Console::out(usage());
            exitCode = 0;
            return false;
        }
        if (name == "--version") {
            Console::out(ProgramInfo::versionText(kProgram));
            exitCode = 0;
            return false;
        }
        if (name == "--side-by-side") {
            setup.sideBySide = true;
        } else if (name == "--follow-camera") {
            setup.followCamera = true;
        } else if (name == "--screenshot") {
            if (value.isEmpty()) {
                exitCode = badOption("--screenshot needs a file name");
                return false;
            }
            setup.screenshotPath = value;
        } else if (name == "--quit-after") {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !(seconds >= 0) || seconds > 2e6) {
                exitCode = badOption(QStringLiteral("--quit-after needs a number of seconds, not '%1'").arg(value));
                return false;
            }
            setup.quitAfterSeconds = seconds;
        } else if (name == "--udp-port") {
            bool ok = false;
            const uint port = value.toUInt(&ok);
            if (!ok || port == 0 || port > 65535) {
                exitCode =
                    badOption(QStringLiteral("--udp-port needs a port number from 1 to 65535, not '%1'").arg(value));
                return false;
            }
            setup.udpPort = quint16(port);
        }
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    ViewerApp::Setup setup;
    int exitCode = 0;
    if (!parse(ProgramInfo::programArguments(argc, argv), setup, exitCode))
        return exitCode;
    // Qt would abort with a hint to reinstall; the cause is simply the display.
    const QString noDisplay = ProgramInfo::displayProblem(argc, argv);
    if (!noDisplay.isEmpty()) {
        Console::err(QStringLiteral("%1: %2; the 3D view needs a display (an X server: run it in a desktop session, "
                                    "or under xvfb-run)\n")
                         .arg(kProgram, noDisplay));
        return 1;
    }

    auto* app = new QApplication(argc, argv);
    // Qt took the C locale from the environment; numbers in files keep a dot.
    std::setlocale(LC_NUMERIC, "C");

    int result = 0;
    {
        ViewerApp viewer(*app, setup);
        viewer.show();
        result = app->exec();
    }
    delete app;
    return result;
}
