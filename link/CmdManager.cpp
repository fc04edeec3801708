#include "link/CmdManager.h"

#include "link/Commands.h"
#include "link/ConsoleLog.h"
#include "link/Connector.h"
#include "link/Messages.h"

#include <QTimer>

#include <cstring>

namespace {

constexpr unsigned kHostType = addressType(kHostAddress);
constexpr int kUpgradeRetryMs = 3000;

bool aircraftConnected()
{
    const qConnector* connector = qConnector::instance();
    return connector && connector->isConnected();
}

} // namespace

namespace zel {

bool GlobalDataCache::enqueueCommand(const uint8_t* frame)
{
    if (!aircraftConnected())
        return false;
    const auto* package = PackageProperty_V1::from(frame);
    CommandEntry entry;
    entry.seq = package->seq();
    entry.frame.assign(frame, frame + package->length());
    // Checked under the mutex: the writer thread changes the queue concurrently.
    std::lock_guard<std::mutex> lock(queueMutex);
    if (commandQueue.size() > kQueueAcceptLimit)
        return false;
    commandQueue.push_back(std::move(entry));
    return true;
}

void GlobalDataCache::clearCommandQueue()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    commandQueue.clear();
}

bool GlobalDataCache::removeCommand(uint32_t seq)
{
    std::lock_guard<std::mutex> lock(queueMutex);
    for (auto it = commandQueue.begin(); it != commandQueue.end(); ++it) {
        if (it->seq == seq) {
            commandQueue.erase(it);
            return true;
        }
    }
    return false;
}

size_t GlobalDataCache::commandQueueSize()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return commandQueue.size();
}

std::vector<CommandEntry> GlobalDataCache::commandQueueSnapshot()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return {commandQueue.begin(), commandQueue.end()};
}

QCommandTable::~QCommandTable() { device()->removeListener(this); }

} // namespace zel

CommandWriteThread::CommandWriteThread(QObject* parent) : QThread(parent) { }

CommandWriteThread::~CommandWriteThread()
{
    stopWriting();
    wait();
}

void CommandWriteThread::startWriting()
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_running = true;
        if (m_active)
            return; // still running (perhaps finishing a pass): it carries on
        m_active = true;
    }
    wait(); // a thread that has just left run() is still winding down
    start(QThread::InheritPriority);
    consolePrint("Command write thread started\n");
}

void CommandWriteThread::stopWriting()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_running = false;
    m_wake.notify_all();
}

bool CommandWriteThread::writing() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running && m_active;
}

void CommandWriteThread::pause(int ms)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !m_running; });
}

void CommandWriteThread::run()
{
    zel::GlobalDataCache* cache = zel::GlobalDataCache::instance();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (!m_running) {
                m_active = false;
                break;
            }
        }
        if (aircraftConnected()) {
            writePass();
        } else {
            cache->clearCommandQueue();
            pause(200);
        }
    }
    consolePrint("thread stopped\n");
}

void CommandWriteThread::writePass()
{
    zel::GlobalDataCache* cache = zel::GlobalDataCache::instance();
    {
        // Held for the whole pass, pauses included: answers wait for it.
        std::lock_guard<std::mutex> lock(cache->queueMutex);
        try {
            for (auto it = cache->commandQueue.begin(); it != cache->commandQueue.end();) {
                if (it->writes < kMaxWrites) {
                    zel::DevIo::current()->write(it->frame.data(), it->frame.size());
                    ++it->writes;
                    QThread::msleep(5);
                    ++it;
                } else {
                    consolePrint("command write error! seq = %d \n", int(it->seq));
                    emit cmdWriteError(int(it->seq));
                    it = cache->commandQueue.erase(it);
                }
            }
        } catch (...) {
            consolePrint("Exception catched!\n");
        }
    }
    pause(50);
}

// Ranked first: a connection resets the sequence before any other listener
// (the connector's status query) can send on it.
qCmdManager::qCmdManager(QObject* parent)
    : QObject(parent),
      zel::DevListener(NotifiedFirst),
      m_writer(new CommandWriteThread(this))
{
    qRegisterMetaType<device_version_ack>("device_version_ack");
    connect(m_writer, &CommandWriteThread::cmdWriteError, this, &qCmdManager::onWriteError);
    m_upgradeTimer = new QTimer(this);
    m_upgradeTimer->setInterval(kUpgradeRetryMs);
    connect(this, &qCmdManager::switchTimer, this, &qCmdManager::onSwitchTimer);
}

qCmdManager::~qCmdManager()
{
    device()->removeListener(this);
    m_writer->stopWriting();
    m_writer->wait();
}

void qCmdManager::sendCommand(uint8_t cmdId, uint8_t cmdSet, const uint8_t* payload, size_t payloadLength,
                              uint8_t receiverType, uint8_t receiverIndex, bool direct)
{
    const std::vector<uint8_t> frame =
        buildPackage(cmdSet, cmdId, payload, payloadLength, receiverType, receiverIndex, m_sequence);
    if (frame.empty())
        return;
    if (direct)
        device()->write(frame.data(), frame.size());
    else
        zel::GlobalDataCache::instance()->enqueueCommand(frame.data());
}

void qCmdManager::queryDeviceStatus(uint8_t deviceType, uint8_t deviceIndex)
{
    const uint8_t zero = 0;
    sendCommand(cmd::StatusQuery, cmd::GeneralSet, &zero, 1, deviceType, deviceIndex, true);
    logMessage(LogWarning, "Cmd", "Query device[0x%.2X.%d] status...", deviceType, deviceIndex);
}

int32_t qCmdManager::onNotify(const DevNotify* notify)
{
    if (notify->type == DevConnected) {
        m_sequence = 0;
    } else if (const PackageProperty_V1* package = notify->package()) {
        if (package->version() == 1)
            dispatch(package);
        else
            logMessage(LogError, "Cmd", "Protocol:0x%.2X not implementated!", package->version());
    }
    return 0;
}

void qCmdManager::dispatch(const PackageProperty_V1* package)
{
    const unsigned receiver = package->receiverType();
    if (receiver != kHostType && receiver != kBroadcastType) {
        logMessage(LogWarning, "Recv", "receiver[0x%.2X] not match,Ignore package!", receiver);
        return;
    }
    uint16_t expected = uint16_t(package->seq());
    m_sequence.compare_exchange_strong(expected, uint16_t(expected + 1));

    if (package->cmdSet == cmd::GeneralSet) {
        handleGeneral(package);
    } else if (package->cmdSet == cmd::TableSet) {
        if (package->cmdId == cmd::SdCardReply) {
            consolePrint("SDCard Cmd: ret = 0x%.2X \n", package->payloadLength() ? package->payload()[0] : 0u);
        } else if (package->cmdId >= cmd::TableDataFirst && package->cmdId <= cmd::TableDataLast) {
            handleTableData(package);
        }
    }
}

void qCmdManager::handleGeneral(const PackageProperty_V1* package)
{
    const size_t length = package->payloadLength();
    const uint8_t* payload = package->payload();
    const unsigned first = length ? payload[0] : 0u;
    switch (package->cmdId) {
    case cmd::DeviceVersion: {
        const int kind = deviceKindCode(package->senderType(), package->senderIndex());
        const QByteArray bytes(reinterpret_cast<const char*>(payload), int(length));
        emit deviceVersionAck(kind, device_version_ack{bytes});
        consolePrint("Device Version, Sender[type=0x%.2X id=0x%.2X], Kind:%d, Data: %s\n", package->senderType(),
                     package->senderIndex(), kind, bytes.toHex(' ').toUpper().constData());
        break;
    }
    case cmd::StatusQuery: handleStatus(package); break;
    case cmd::HardwareId:
        consolePrint("cmd_id=%d,set=%d,receiver=%d \n", package->cmdId, package->cmdSet, package->receiverType());
        logMessage(LogInfoLevel, "Cmd", "Set hardware Id ACK, ret=0x%.2X", first);
        break;
    case cmd::DeviceLog: {
        // Text between the log-type byte and the last byte, up to its terminator.
        QString text;
        if (length >= 2) {
            const char* start = reinterpret_cast<const char*>(payload + 1);
            text = QString::fromUtf8(start, int(strnlen(start, length - 2)));
        }
        emit deviceLog(int(package->seq()), int(first), text, int(package->senderType()), int(package->senderIndex()));
        break;
    }
    default: break; // 7..11 belong to the firmware upgrade, which this host never starts
    }
}

void qCmdManager::handleStatus(const PackageProperty_V1* package)
{
    const std::optional<StatusReply> reply = StatusReply::decode(package->payload(), package->payloadLength());
    if (!reply) {
        logMessage(LogError, "Cmd", "Device status reply too short (%zu bytes), ignored", package->payloadLength());
        return;
    }
    const uint32_t status = reply->status;
    consolePrint("Device Status, Sender[type=0x%.2X id=0x%.2X],   Status:0x%.8X\n", package->senderType(),
                 package->senderIndex(), status);
    {
        std::lock_guard<std::mutex> lock(m_statusLock);
        m_status[package->sender] = uint8_t(status & 0xFF);
    }
    if (package->senderType() == kFlightControllerType) {
        if (status & 1)
            m_writer->stopWriting();
        else
            m_writer->startWriting();
    }
}

void qCmdManager::handleTableData(const PackageProperty_V1* package)
{
    zel::GlobalDataCache* cache = zel::GlobalDataCache::instance();
    cache->removeCommand(package->seq());
    const size_t length = package->payloadLength();
    const uint8_t* payload = package->payload();
    for (size_t at = 1; at + 2 <= length;) {
        const uint16_t index = uint16_t(payload[at] | (payload[at + 1] << 8));
        const auto item = cache->tableItems.find(index);
        if (item == cache->tableItems.end()) {
            logMessage(LogError, "Cmd Parse", "Data size invalid [index = 0x%.4X],please update cmd table!", index);
            return;
        }
        at += 2 + item->second;
        if (at > length)
            return; // value cut short: nothing to show
        emit updateUI(index);
    }
}

int qCmdManager::deviceStatus(uint8_t address) const
{
    std::lock_guard<std::mutex> lock(m_statusLock);
    const auto it = m_status.find(address);
    return it == m_status.end() ? -1 : it->second;
}

int qCmdManager::deviceKindCode(unsigned type, unsigned index)
{
    switch (type) {
    case 1: return 4;
    case 3: return index == 5 ? 1 : index == 6 ? 2 : index == 7 ? 7 : 0;
    case 4: return 6;
    case 5: return 5;
    case 6: return 26;
    case 8: return 8;
    case 9: return 10;
    case 11: return 7;
    case 12: return int(index) + 16;
    case 13: return 9;
    case 14: return 11;
    case 15: return 15;
    case 16: return 14;
    case 17: return 24;
    case 18: return 25;
    case 19: return 13;
    case 20: return 12;
    default: return 0;
    }
}

void qCmdManager::onWriteError(int seq) { emit writeCmdError(seq); }

void qCmdManager::onSwitchTimer(bool bStart)
{
    if (bStart)
        m_upgradeTimer->start();
    else
        m_upgradeTimer->stop();
}
