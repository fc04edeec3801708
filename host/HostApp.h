#pragma once

#include "host/HostCommandLine.h"

#include "common/StateDatagram.h"

#include <QString>

#include <memory>

class DevMonitor;
class PortReopener;
class QApplication;
class QuvorCommand;
class QuvorSimulator;
class QuvorVersion;
class ShutdownSignals;
class qCmdManager;
class qConnector;
namespace zel {
class DevIo;
class QCommandTable;
} // namespace zel

// The host program: every long-lived object, built and connected in start-up
// order and destroyed in the reverse order.
//
//   HostApp host(app, {applicationDir(), options});
//   if (!host.openNamedPort(error)) ...
//   host.show();
//   app.exec();
//
// The serial device I/O brings the port monitor and, for a --port, the port
// reopener; any other device (a test's) is used as it is.
class HostApp {
public:
    struct Setup {
        QString appDir; // settings, log root and the visualiser
        HostOptions options; // from the command line
        zel::DevIo* device = nullptr; // null: the serial device I/O
        quint16 udpPort = StateDatagram::Port; // where the state datagrams go
    };

    HostApp(QApplication& app, const Setup& setup);
    ~HostApp();
    HostApp(const HostApp&) = delete;
    HostApp& operator=(const HostApp&) = delete;

    // Opens the port named on the command line, as if the aircraft had arrived
    // there. false, with the reason in error, when it did not open; true when
    // none was named.
    bool openNamedPort(QString& error);

    // Shows only the dialog. From here on Ctrl+C, SIGTERM and SIGHUP close it,
    // which stops a running simulation first.
    void show();

    zel::DevIo& device() const { return *mDevice; }
    qConnector* connector() const { return mConnector.get(); }
    zel::QCommandTable* commandTable() const { return mCommandTable.get(); }
    qCmdManager* commandManager() const { return mCommandManager.get(); }
    QuvorSimulator* simulator() const { return mSimulator.get(); }
    QuvorCommand* dialog() const { return mDialog.get(); }
    QuvorVersion* versionBox() const { return mVersionBox.get(); }
    DevMonitor* monitor() const { return mMonitor.get(); }

private:
    const HostOptions mOptions;
    zel::DevIo* const mDevice;
    zel::DevIo* const mPreviousDevice;
    std::unique_ptr<qConnector> mConnector;
    std::unique_ptr<zel::QCommandTable> mCommandTable;
    std::unique_ptr<qCmdManager> mCommandManager;
    std::unique_ptr<QuvorSimulator> mSimulator;
    std::unique_ptr<QuvorCommand> mDialog;
    std::unique_ptr<QuvorVersion> mVersionBox;
    std::unique_ptr<DevMonitor> mMonitor;
    std::unique_ptr<PortReopener> mReopener;
    std::unique_ptr<ShutdownSignals> mShutdown;
};
