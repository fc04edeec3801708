#include "host/HostApp.h"
#include "host/HostCommandLine.h"
#include "host/HostPaths.h"

#include "common/ProgramInfo.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // The options are read before Qt starts, so that help, the version and a
    // bad option need no window system; Qt's own options are left to it.
    HostOptions options;
    QString error;
    switch (parseHostCommandLine(QStringList("QuvorSimulator") + ProgramInfo::programArguments(argc, argv), options,
                                 error)) {
    case CommandLineHelp: std::fputs(qPrintable(hostUsage()), stdout); return 0;
    case CommandLineVersion: std::fputs(qPrintable(ProgramInfo::versionText("QuvorSimulator")), stdout); return 0;
    case CommandLineError:
        std::fprintf(stderr, "QuvorSimulator: %s\nTry 'QuvorSimulator --help'.\n", qPrintable(error));
        return 2;
    case CommandLineOk: break;
    }
    // Scripted runs on a machine without a display still get a working host.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !ProgramInfo::displayProblem(argc, argv).isEmpty()) {
        std::fputs("QuvorSimulator: no display; the control window runs off screen (Ctrl+C ends the host)\n", stderr);
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    // Numbers in files and datagrams always use a dot.
    std::setlocale(LC_NUMERIC, "C");

    HostApp host(app, {applicationDir(), options});
    if (!host.openNamedPort(error)) {
        std::fprintf(stderr, "QuvorSimulator: %s\n", qPrintable(error));
        return 1;
    }
    host.show();
    return app.exec();
}
