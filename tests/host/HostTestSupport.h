// Shared pieces of the host tests: a Qt application, a device that records
// what the host writes, aircraft packages, a UDP listener on a free port and
// the host program built on them.
#pragma once

#include "host/HostApp.h"
#include "host/HostSettings.h"
#include "host/QuvorCommand.h"
#include "host/QuvorSimulator.h"
#include "host/QuvorVersion.h"
#include "host/SimCommands.h"

#include "link/DevIo.h"
#include "link/Package.h"

#include "tests/host/TestHelpers.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <functional>
#include <mutex>
#include <set>
#include <vector>

inline QApplication& testApp()
{
    static int argc = 1;
    static char name[] = "host_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

struct SentCommand {
    uint8_t cmdSet;
    uint8_t cmdId;
    uint8_t receiverType;
    QByteArray payload;
};

// A device in place of the serial port: keeps every frame written to it and
// lets the test raise notifications as the port would.
class RecordingDevIo : public zel::DevIo {
public:
    void addListener(zel::DevListener* listener) override
    {
        attach(listener, this);
        listeners.insert(listener);
        added.push_back(listener);
    }
    void removeListener(zel::DevListener* listener) override { listeners.erase(listener); }
    bool write(const uint8_t* data, size_t length) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        assembler.feed(data, length, [this](const PackageProperty_V1* frame, size_t) {
            sent.push_back({frame->cmdSet, frame->cmdId, uint8_t(frame->receiverType()),
                            QByteArray(reinterpret_cast<const char*>(frame->payload()), int(frame->payloadLength()))});
        });
        return true;
    }
    void disconnectDevice() override { notify(DevDisconnected, nullptr); }
    bool connectDevice() override
    {
        notify(DevConnected, nullptr);
        return true;
    }

    void notify(int32_t code, const void* data)
    {
        const DevNotify n{code, data};
        for (zel::DevListener* listener : listeners)
            listener->onNotify(&n);
    }
    // An aircraft package from the flight controller (type 3, index 0) to the host.
    void receive(uint8_t cmdSet, uint8_t cmdId, const QByteArray& payload, uint8_t senderType = 3, uint16_t seq = 0)
    {
        const std::vector<uint8_t> frame =
            buildPackageFrom(makeAddress(senderType, 0), cmdSet, cmdId,
                             reinterpret_cast<const uint8_t*>(payload.data()), size_t(payload.size()), 10, 0, seq);
        notify(DevPackageReceived, frame.data());
    }

    std::vector<SentCommand> commands()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return sent;
    }
    std::vector<SentCommand> commands(uint8_t cmdSet, uint8_t cmdId)
    {
        std::vector<SentCommand> out;
        for (const SentCommand& c : commands())
            if (c.cmdSet == cmdSet && c.cmdId == cmdId)
                out.push_back(c);
        return out;
    }
    void clearCommands()
    {
        std::lock_guard<std::mutex> lock(mutex);
        sent.clear();
    }

    std::set<zel::DevListener*> listeners;
    std::vector<zel::DevListener*> added; // in the order of registration

private:
    std::mutex mutex;
    PackageAssembler assembler;
    std::vector<SentCommand> sent;
};

// Collects the datagrams sent to 127.0.0.1 on a port of its own.
class DatagramListener {
public:
    DatagramListener() { socket.bind(QHostAddress(QHostAddress::LocalHost), quint16(0)); }
    quint16 port() const { return socket.localPort(); }
    // Datagrams received so far, after letting the event loop run.
    QList<QByteArray>& take()
    {
        QCoreApplication::processEvents();
        while (socket.hasPendingDatagrams()) {
            QByteArray data(int(socket.pendingDatagramSize()), '\0');
            socket.readDatagram(data.data(), data.size());
            received.append(data);
        }
        return received;
    }
    bool waitFor(int count, int timeoutMs = 5000)
    {
        return waitUntil([&] { return take().size() >= count; }, timeoutMs);
    }

    QUdpSocket socket;
    QList<QByteArray> received;
};

// The host as the program builds it, on a recording device, with its settings
// in a folder of its own and its datagrams going to the test's listener.
struct TestHost {
    explicit TestHost(const HostOptions& options = HostOptions())
        : app(testApp(), {dir.path(), options, &dev, udp.port()})
    {
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
    void startUp() { dialog->onStartupTick(); }
    void connect() { dev.notify(DevConnected, nullptr); }
    void disconnect() { dev.notify(DevDisconnected, nullptr); }

    QTemporaryDir dir;
    RecordingDevIo dev;
    DatagramListener udp;
    HostApp app;
    QuvorSimulator* const simulator = app.simulator();
    QuvorCommand* const dialog = app.dialog();
};
