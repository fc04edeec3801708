#include "HostApp.h"
#include "HostCommandLine.h"
#include "HostPaths.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Help needs no window system; everything else is parsed once Qt has
    // taken its own options out.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(qPrintable(hostUsage()), stdout);
            return 0;
        }
    }
    // Scripted runs on a machine without a display still get a working host.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("QuvorSimulator: no display; the control window runs off screen (Ctrl+C ends the host)\n", stderr);
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    // Numbers in files and datagrams always use a dot.
    std::setlocale(LC_NUMERIC, "C");

    HostOptions options;
    QString error;
    switch (parseHostCommandLine(app.arguments(), options, error)) {
    case CommandLineHelp: std::fputs(qPrintable(hostUsage()), stdout); return 0;
    case CommandLineError:
        std::fprintf(stderr, "QuvorSimulator: %s\n%s", qPrintable(error), qPrintable(hostUsage()));
        return 2;
    case CommandLineOk: break;
    }

    HostApp host(app, {applicationDir(), options});
    if (!host.openNamedPort(error)) {
        std::fprintf(stderr, "QuvorSimulator: %s\n", qPrintable(error));
        return 1;
    }
    host.show();
    return app.exec();
}
