#include "HostCommandLine.h"
#include "HostPaths.h"
#include "QuvorCommand.h"
#include "QuvorSimulator.h"
#include "QuvorVersion.h"
#include "ShutdownSignals.h"

#include "link/DevIo.h"
#include "link/PortMonitor.h"
#include "link/PortReopener.h"
#include "link/CmdManager.h"
#include "link/Connector.h"

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
        std::fputs("QuvorSimulator: no display; the control window runs off screen (Ctrl+C ends the host)\n",
                   stderr);
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    QApplication app(argc, argv);
    // Numbers in files and datagrams always use a dot.
    std::setlocale(LC_NUMERIC, "C");
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    HostOptions options;
    QString error;
    switch (parseHostCommandLine(app.arguments(), options, error)) {
    case CommandLineHelp:
        std::fputs(qPrintable(hostUsage()), stdout);
        return 0;
    case CommandLineError:
        std::fprintf(stderr, "QuvorSimulator: %s\n%s", qPrintable(error), qPrintable(hostUsage()));
        return 2;
    case CommandLineOk:
        break;
    }

    zel::SimpleDevIo* serial = zel::SimpleDevIo::instance();
    zel::DevIo::setCurrent(serial);

    auto* connector = new qConnector(&app);
    auto* commandTable = new zel::QCommandTable(&app);
    auto* commandManager = new qCmdManager(&app);
    serial->addListener(connector);
    serial->addListener(commandTable);
    serial->addListener(commandManager);

    const QString appDir = applicationDir();
    auto* simulator = new QuvorSimulator(appDir);
    serial->addListener(simulator);

    auto* dialog = new QuvorCommand(appDir);
    auto* versionBox = new QuvorVersion();
    QObject::connect(simulator, SIGNAL(msg(int, const QString&)), dialog, SLOT(appendLog(int, const QString&)));
    simulator->takeDialogValues();
    dialog->setAutoStart(options.autoStart);
    dialog->setAutoUiSuppressed(options.noAutoUi);

    auto* monitor = new DevMonitor();
    QObject::connect(monitor, SIGNAL(SignalDeviceArrival(const QString&)), serial,
                     SLOT(_fireDeviceArrival(const QString&)));
    QObject::connect(monitor, SIGNAL(SignalDeviceRemoveComplete(const QString&)), serial,
                     SLOT(_fireDeviceRemoveComplete(const QString&)));
    monitor->startMonitoring();

    // A named port that goes away is retried until it is back. The run ends
    // with the connection (not only at the next poll), so a quick reconnection
    // starts afresh, auto-started again when asked for. Queued: the connector
    // clears its flag after the signal.
    if (!options.port.isEmpty())
        new PortReopener(serial, options.port, &app);
    QObject::connect(
        connector, &qConnector::connectionChanged, dialog,
        [dialog, autoStart = options.autoStart](bool connected) {
            if (!connected)
                dialog->onCheckConnection();
            else if (autoStart)
                dialog->setAutoStart(true);
        },
        Qt::QueuedConnection);

    int code = 1;
    if (!options.port.isEmpty())
        serial->onDeviceArrival(options.port);
    if (!options.port.isEmpty() && !serial->isOpen()) {
        std::fprintf(stderr, "QuvorSimulator: %s\n", qPrintable(portOpenErrorText(options.port, int(serial->lastError()))));
    } else {
        // Ctrl+C, SIGTERM and SIGHUP close the dialog, which stops a running simulation first.
        ShutdownSignals shutdown;
        // Quitting as well ends the run even while a modal chooser keeps a window open.
        QObject::connect(&shutdown, &ShutdownSignals::requested, dialog, [dialog] {
            dialog->close();
            QCoreApplication::quit();
        });

        simulator->hide();
        dialog->show();
        versionBox->hide();
        code = app.exec();
    }

    delete monitor;
    delete versionBox;
    delete dialog;
    // The port may still deliver packages until the process ends.
    serial->removeListener(simulator);
    delete simulator;
    serial->removeListener(commandManager);
    serial->removeListener(commandTable);
    serial->removeListener(connector);
    // The command writer reads the connector's state until the manager has
    // joined it, so the manager goes first.
    delete commandManager;
    delete commandTable;
    delete connector;
    return code;
}
