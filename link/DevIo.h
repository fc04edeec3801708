// The device I/O: one serial port to the aircraft, fanned out to listeners.
#pragma once

#include "link/Package.h"
#include "link/Serial.h"
#include "link/Singleton.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

enum DevNotifyCode : int32_t {
    DevPackageReceived = 1, // data: the frame, valid during the notification only
    DevConnected = 2,
    DevDisconnected = 3,
    DevDataWritten = 4, // handled by the connection manager, never raised by the serial device
    DevConnectFailed = 5, // likewise
};

struct DevNotify {
    int32_t type;
    const void* data;

    const PackageProperty_V1* package() const
    {
        return type == DevPackageReceived ? static_cast<const PackageProperty_V1*>(data) : nullptr;
    }
};

namespace zel {

class DevIo;

class DevListener {
public:
    // Listeners are notified by rank, then in the order they registered;
    // never by address. A listener that must see a connection before anyone
    // can send on it (the command manager resets its sequence) ranks first.
    enum NotifyRank : int { NotifiedFirst = -1, NotifiedInOrder = 0 };

    // Belongs to the device I/O that is current at construction.
    explicit DevListener(NotifyRank rank = NotifiedInOrder);
    virtual ~DevListener();
    // Return value is ignored by the device I/O.
    virtual int32_t onNotify(const DevNotify* notify) = 0;
    virtual DevIo* device() { return m_device; }
    NotifyRank notifyRank() const { return m_rank; }

private:
    friend class DevIo;
    DevIo* m_device;
    NotifyRank m_rank;
};

class DevIo : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The process-wide device I/O: the do-nothing device until the host installs another.
    static DevIo* current();
    static void setCurrent(DevIo* device);

    virtual void addListener(DevListener* listener) = 0;
    virtual void removeListener(DevListener* listener) = 0;
    virtual bool write(const uint8_t* data, size_t length) = 0;
    virtual void disconnectDevice() = 0;
    virtual bool connectDevice() = 0;
    // Switches the traffic dump (a hex line per frame written and received) on
    // or off; a device without one ignores it.
    virtual void toggleDump() { }

protected:
    static void attach(DevListener* listener, DevIo* device) { listener->m_device = device; }
};

class NullDevIo : public DevIo, public Singleton<NullDevIo> {
    Q_OBJECT
public:
    using Singleton<NullDevIo>::instance;

    void addListener(DevListener* listener) override { attach(listener, this); }
    void removeListener(DevListener*) override { }
    bool write(const uint8_t*, size_t) override { return false; }
    void disconnectDevice() override { }
    bool connectDevice() override { return false; }
    virtual void onDeviceArrival(const QString&) { }
    virtual void onDeviceRemoveComplete(const QString&) { }
};

// The serial device. Arrival and removal run on the object's (GUI) thread;
// packages are reassembled and announced on the listener thread. A peer that
// hangs up is removed through a queued call, so the owning thread needs an
// event loop for that.
class SimpleDevIo : public DevIo, public CSerialEx, public Singleton<SimpleDevIo> {
    Q_OBJECT
public:
    using Singleton<SimpleDevIo>::instance;

    SimpleDevIo();
    ~SimpleDevIo() override;

    void addListener(DevListener* listener) override;
    void removeListener(DevListener* listener) override;
    bool write(const uint8_t* data, size_t length) override;
    void disconnectDevice() override;
    bool connectDevice() override;
    void toggleDump() override;

    // A port name ("ttyACM0") or a full device path ("/dev/pts/3").
    virtual void onDeviceArrival(const QString& portName);
    virtual void onDeviceRemoveComplete(const QString& portName);
    // An arrival that says nothing when the port cannot be opened (yet):
    // for retrying a port that is expected to come back.
    bool tryArrival(const QString& portName);

    QString portName() const;
    bool abnormal() const { return m_abnormal; }
    // Bytes held for reassembly; listener thread only while the port is open.
    size_t receiveBuffered() const { return m_assembler.buffered(); }

    static constexpr int kReadTimeoutMs = 1000;
    static constexpr int kWriteTimeoutMs = 500;

public slots:
    void _fireDeviceArrival(QString devName) { onDeviceArrival(devName); }
    void _fireDeviceRemoveComplete(QString devName) { onDeviceRemoveComplete(devName); }

protected:
    void onEvent(uint32_t events, uint32_t errors) override;
    void onHangup() override;

private:
    using CSerial::write; // the raw port write, without lock, time-out or dump

    bool openPort(const QString& portName, bool quiet = false);
    void arrive(const QString& portName, bool quiet);
    void notify(int32_t code, const void* data);
    void dump(const char* prefix, const uint8_t* data, size_t length);

    std::recursive_mutex m_listenerLock; // held while notifying, so removal waits for it
    std::vector<DevListener*> m_listeners; // notification order: by rank, then registration
    mutable std::mutex m_nameLock;
    QString m_portName;
    std::atomic<bool> m_abnormal{false};
    std::atomic<uint64_t> m_openCount{0};
    PackageAssembler m_assembler;

    // Traffic dump: lines go out only while the flag is set and a file is open.
    // The host opens no dump file, so toggleDump alone writes nothing.
    std::mutex m_dumpLock;
    std::atomic<bool> m_dumpFlag{false};
    FILE* m_dumpFile = nullptr;
};

} // namespace zel
