// Outgoing commands, the retry queue and the first look at incoming packages.
#pragma once

#include "link/DevIo.h"
#include "link/Singleton.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <vector>

class QTimer;

// Payload of a device-information reply.
struct device_version_ack {
    QByteArray payload;
};
Q_DECLARE_METATYPE(device_version_ack)

namespace zel {

struct CommandEntry {
    uint32_t seq = 0;
    int32_t writes = 0;
    std::vector<uint8_t> frame;
};

// Process-wide caches shared by the command manager and its writer thread.
class GlobalDataCache : public Singleton<GlobalDataCache> {
public:
    // Accepts while at most this many entries are queued, so the queue peaks one above it.
    static constexpr size_t kQueueAcceptLimit = 256;

    // Copies the frame (length from its header); refused when the queue is
    // full or no aircraft is connected.
    bool enqueueCommand(const uint8_t* frame);
    void clearCommandQueue();
    bool removeCommand(uint32_t seq);
    size_t commandQueueSize();
    std::vector<CommandEntry> commandQueueSnapshot();

    std::mutex queueMutex;
    std::list<CommandEntry> commandQueue; // guarded by queueMutex

    // Known table items: item index -> value size in bytes. Nothing fills it
    // in this host, so it stays empty.
    std::map<uint16_t, uint16_t> tableItems;
};

// Listens like the others but ignores everything: the table query is never started.
class QCommandTable : public QObject, public DevListener, public SingletonEx<QCommandTable> {
    Q_OBJECT
public:
    explicit QCommandTable(QObject* parent = nullptr) : QObject(parent) { }
    ~QCommandTable() override;
    int32_t onNotify(const DevNotify*) override { return 0; }
};

} // namespace zel

// Repeats queued commands until they are answered or given up.
class CommandWriteThread : public QThread {
    Q_OBJECT
public:
    static constexpr int kMaxWrites = 6;

    explicit CommandWriteThread(QObject* parent = nullptr);
    ~CommandWriteThread() override;

    // Sets the running flag and starts the thread unless it is running already.
    void startWriting();
    // Clears the running flag; the thread ends after its current pass.
    void stopWriting();
    bool writing() const;

signals:
    void cmdWriteError(int seq);

protected:
    void run() override;

private:
    void writePass();
    // Sleeps, but wakes at once when the running flag is cleared.
    void pause(int ms);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_running = true; // set at construction, as a fresh writer is meant to run when started
    bool m_active = false; // between startWriting and the end of run()
};

class qCmdManager : public QObject, public zel::DevListener, public SingletonEx<qCmdManager> {
    Q_OBJECT
public:
    explicit qCmdManager(QObject* parent = nullptr);
    ~qCmdManager() override;

    // Frames the command with the current sequence number (sending does not
    // advance it). Direct: written at once; otherwise queued for the writer.
    void sendCommand(uint8_t cmdId, uint8_t cmdSet, const uint8_t* payload, size_t payloadLength, uint8_t receiverType,
                     uint8_t receiverIndex, bool direct);
    void queryDeviceStatus(uint8_t deviceType, uint8_t deviceIndex);
    int32_t onNotify(const DevNotify* notify) override;

    uint16_t sequence() const { return m_sequence; }
    // Last status byte a device reported, -1 when it never did.
    int deviceStatus(uint8_t address) const;
    CommandWriteThread* writer() const { return m_writer; }

    static int deviceKindCode(unsigned type, unsigned index);

signals:
    void updateUI(int itemIndex);
    void writeCmdError(int seq);
    // The firmware-upgrade exchange's outcome and progress; the host never
    // starts an upgrade, so they stay silent in a simulation.
    void upgradeFinished(int result);
    void reportUpgradeStatus(int status);
    void switchTimer(bool bStart);
    void deviceLog(int seq, int logType, QString text, int senderType, int senderIndex);
    void deviceVersionAck(int kind, device_version_ack ack);

public slots:
    void onWriteError(int seq);
    void onSwitchTimer(bool bStart);

private:
    void dispatch(const PackageProperty_V1* package);
    void handleGeneral(const PackageProperty_V1* package);
    void handleStatus(const PackageProperty_V1* package);
    void handleTableData(const PackageProperty_V1* package);

    std::atomic<uint16_t> m_sequence{0};
    CommandWriteThread* m_writer;
    QTimer* m_upgradeTimer;
    mutable std::mutex m_statusLock;
    std::map<uint8_t, uint8_t> m_status;
};
