// The host's objects wired as the program wires them, on a recording device
// and with datagrams going to a listener of the test's own.
#pragma once

#include "HostTestSupport.h"

#include "host/HostSettings.h"
#include "host/QuvorCommand.h"
#include "host/QuvorSimulator.h"
#include "host/QuvorVersion.h"
#include "host/SimCommands.h"

#include "link/CmdManager.h"
#include "link/Connector.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

struct HostStack
{
    explicit HostStack(bool withDialog = true)
    {
        testApp();
        gStartupPending = true;
        zel::DevIo::setCurrent(&dev);
        connector = std::make_unique<qConnector>();
        manager = std::make_unique<qCmdManager>();
        dev.addListener(connector.get());
        dev.addListener(manager.get());
        simulator = std::make_unique<QuvorSimulator>(appDir(), udp.port());
        dev.addListener(simulator.get());
        if (withDialog)
            dialog = std::make_unique<QuvorCommand>(appDir());
    }
    ~HostStack()
    {
        dialog.reset();
        dev.removeListener(simulator.get());
        simulator.reset();
        dev.removeListener(manager.get());
        dev.removeListener(connector.get());
        zel::DevIo::setCurrent(nullptr);
    }

    QString appDir() const { return dir.path(); }
    QByteArray settingsText() const
    {
        QFile file(settingsFilePath(appDir()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeSettings(const QByteArray& text) const
    {
        QFile file(settingsFilePath(appDir()));
        file.open(QIODevice::WriteOnly);
        file.write(text);
    }
    // Runs the startup tick's one-time work (settings, log list, first push).
    void startUp()
    {
        dialog->onStartupTick();
    }
    void connect() { dev.notify(DevConnected, nullptr); }
    void disconnect() { dev.notify(DevDisconnected, nullptr); }

    QTemporaryDir dir;
    RecordingDevIo dev;
    DatagramListener udp;
    std::unique_ptr<qConnector> connector;
    std::unique_ptr<qCmdManager> manager;
    std::unique_ptr<QuvorSimulator> simulator;
    std::unique_ptr<QuvorCommand> dialog;
};
