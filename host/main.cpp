#include "host/HostApp.h"
#include "host/HostCommandLine.h"
#include "host/HostPaths.h"

#include "common/Console.h"
#include "common/ProgramInfo.h"

#include <QApplication>

#include <clocale>

int main(int argc, char* argv[])
{
    // The options are read before Qt starts, so that help, the version and a
    // bad option need no window system; Qt's own options are left to it.
    HostOptions options;
    QString error;
    switch (parseHostCommandLine(QStringList("QuvorSimulator") + ProgramInfo::programArguments(argc, argv), options,
                                 error)) {
    case CommandLineHelp: Console::out(hostUsage()); return 0;
    case CommandLineVersion: Console::out(ProgramInfo::versionText("QuvorSimulator")); return 0;
    case CommandLineError: Console::err("QuvorSimulator: " + error + "\nTry 'QuvorSimulator --help'.\n"); return 2;
    case CommandLineOk: break;
    }
    // Scripted runs on a machine without a display still get a working host.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !ProgramInfo::displayProblem(argc, argv).isEmpty()) {
        Console::err("QuvorSimulator: no display; the control window runs off screen (Ctrl+C ends the host)\n");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    // Numbers in files and datagrams always use a dot.
    std::setlocale(LC_NUMERIC, "C");

    HostApp host(app, {applicationDir(), options});
    if (!host.openNamedPort(error)) {
        Console::err("QuvorSimulator: " + error + "\n");
        return 1;
    }
    host.show();
    return app.exec();
}
