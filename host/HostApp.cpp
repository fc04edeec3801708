#include "host/HostApp.h"

#include "host/QuvorCommand.h"
#include "host/QuvorSimulator.h"
#include "host/QuvorVersion.h"
#include "host/ShutdownSignals.h"

#include "link/CmdManager.h"
#include "link/Connector.h"
#include "link/DevIo.h"
#include "link/PortMonitor.h"
#include "link/PortReopener.h"

#include <QApplication>

HostApp::HostApp(QApplication& app, const Setup& setup)
    : mOptions(setup.options),
      mDevice(setup.device ? setup.device : zel::SimpleDevIo::instance()),
      mPreviousDevice(zel::DevIo::current())
{
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit, Qt::UniqueConnection);
    // The settings are read by the dialog's first start-up tick.
    gStartupPending = true;

    zel::DevIo::setCurrent(mDevice);

    mConnector = std::make_unique<qConnector>(&app);
    mCommandTable = std::make_unique<zel::QCommandTable>(&app);
    mCommandManager = std::make_unique<qCmdManager>(&app);
    mDevice->addListener(mConnector.get());
    mDevice->addListener(mCommandTable.get());
    mDevice->addListener(mCommandManager.get());

    mSimulator = std::make_unique<QuvorSimulator>(setup.appDir, setup.udpPort);
    mSimulator->setUdpDestinations(mOptions.udpTo);
    mDevice->addListener(mSimulator.get());

    mDialog = std::make_unique<QuvorCommand>(setup.appDir);
    mVersionBox = std::make_unique<QuvorVersion>();
    QObject::connect(mSimulator.get(), SIGNAL(msg(int, const QString&)), mDialog.get(),
                     SLOT(appendLog(int, const QString&)));
    mSimulator->takeDialogValues();
    mDialog->setAutoStart(mOptions.autoStart);
    mDialog->setAutoUiSuppressed(mOptions.noAutoUi);

    auto* serial = qobject_cast<zel::SimpleDevIo*>(mDevice);
    if (serial) {
        mMonitor = std::make_unique<DevMonitor>();
        QObject::connect(mMonitor.get(), SIGNAL(SignalDeviceArrival(const QString&)), serial,
                         SLOT(_fireDeviceArrival(const QString&)));
        QObject::connect(mMonitor.get(), SIGNAL(SignalDeviceRemoveComplete(const QString&)), serial,
                         SLOT(_fireDeviceRemoveComplete(const QString&)));
        mMonitor->startMonitoring();

        // A named port that goes away is retried until it is back.
        if (!mOptions.port.isEmpty())
            mReopener = std::make_unique<PortReopener>(serial, mOptions.port);
    }
    // The run ends with the connection (not only at the next poll), so a quick
    // reconnection starts afresh, auto-started again when asked for. Queued:
    // the connector clears its flag after the signal.
    QuvorCommand* dialog = mDialog.get();
    QObject::connect(
        mConnector.get(), &qConnector::connectionChanged, dialog,
        [dialog, autoStart = mOptions.autoStart](bool connected) {
            if (!connected)
                dialog->onCheckConnection();
            else if (autoStart)
                dialog->setAutoStart(true);
        },
        Qt::QueuedConnection);
}

HostApp::~HostApp()
{
    mShutdown.reset();
    mReopener.reset();
    mMonitor.reset();
    mVersionBox.reset();
    mDialog.reset();
    // The port may still deliver packages until the process ends.
    mDevice->removeListener(mSimulator.get());
    mSimulator.reset();
    mDevice->removeListener(mCommandManager.get());
    mDevice->removeListener(mCommandTable.get());
    mDevice->removeListener(mConnector.get());
    // The command writer reads the connector's state until the manager has
    // joined it, so the manager goes first.
    mCommandManager.reset();
    mCommandTable.reset();
    mConnector.reset();
    zel::DevIo::setCurrent(mPreviousDevice);
}

bool HostApp::openNamedPort(QString& error)
{
    auto* serial = qobject_cast<zel::SimpleDevIo*>(mDevice);
    if (mOptions.port.isEmpty() || !serial)
        return true;
    serial->onDeviceArrival(mOptions.port);
    if (serial->isOpen())
        return true;
    error = portOpenErrorText(mOptions.port, int(serial->lastError()));
    return false;
}

void HostApp::show()
{
    if (!mShutdown) {
        mShutdown = std::make_unique<ShutdownSignals>();
        // Quitting as well ends the run even while a modal chooser keeps a window open.
        QuvorCommand* dialog = mDialog.get();
        QObject::connect(mShutdown.get(), &ShutdownSignals::requested, dialog, [dialog] {
            dialog->close();
            QCoreApplication::quit();
        });
    }
    mSimulator->hide();
    if (mOptions.sideBySide)
        mDialog->placeBesideView();
    mDialog->show();
    mVersionBox->hide();
}
