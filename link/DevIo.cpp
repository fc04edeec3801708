#include "link/DevIo.h"

#include "link/PortDiagnosis.h"

#include "link/ConsoleLog.h"

#include <QMetaObject>

#include <algorithm>

#include <cerrno>
#include <vector>

namespace zel {

namespace {
std::atomic<DevIo*> g_current{nullptr};
} // namespace

DevListener::DevListener(NotifyRank rank) : m_device(DevIo::current()), m_rank(rank) { }

DevListener::~DevListener()
{
    // A destroyed listener must not stay in the device's set.
    if (m_device)
        m_device->removeListener(this);
}

DevIo* DevIo::current()
{
    DevIo* device = g_current.load();
    return device ? device : NullDevIo::instance();
}

void DevIo::setCurrent(DevIo* device) { g_current = device; }

SimpleDevIo::SimpleDevIo() = default;

SimpleDevIo::~SimpleDevIo()
{
    if (m_dumpFile)
        fclose(m_dumpFile);
    CSerialEx::close();
}

void SimpleDevIo::addListener(DevListener* listener)
{
    std::lock_guard<std::recursive_mutex> lock(m_listenerLock);
    if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        // After every listener of the same or an earlier rank.
        const auto at = std::find_if(m_listeners.begin(), m_listeners.end(), [listener](const DevListener* other) {
            return other->notifyRank() > listener->notifyRank();
        });
        m_listeners.insert(at, listener);
    }
    attach(listener, this);
}

void SimpleDevIo::removeListener(DevListener* listener)
{
    std::lock_guard<std::recursive_mutex> lock(m_listenerLock);
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void SimpleDevIo::notify(int32_t code, const void* data)
{
    const DevNotify n{code, data};
    std::lock_guard<std::recursive_mutex> lock(m_listenerLock);
    // A listener may remove itself (or another) from its handler.
    const std::vector<DevListener*> listeners = m_listeners;
    for (DevListener* listener : listeners)
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->onNotify(&n);
}

bool SimpleDevIo::write(const uint8_t* data, size_t length)
{
    if (!isOpen() || m_abnormal)
        return false;
    try {
        long error;
        {
            std::lock_guard<std::mutex> lock(m_portLock);
            error = CSerial::write(data, length, nullptr, kWriteTimeoutMs);
        }
        if (error == ETIMEDOUT) {
            logMessage(LogError, "Device", "Write Timeout !");
            return false;
        }
        // A port that fails otherwise (a vanished device) is not reported as
        // written; the hang-up that follows removes it.
        if (error != 0)
            return false;
        dump("W:    ", data, length);
        return true;
    } catch (...) {
        logMessage(LogError, "Device", "Exception catched when write Serial port");
        return false;
    }
}

void SimpleDevIo::onEvent(uint32_t events, uint32_t)
{
    // Characters are read whenever they are signalled, also together with a
    // line error: poll() keeps reporting them until they are read.
    if (!(events & EventRxChar))
        return;
    try {
        size_t waiting = 0;
        if (bytesWaiting(&waiting) != 0 || waiting == 0)
            return;
        std::vector<uint8_t> bytes(waiting);
        size_t got = 0;
        long error;
        {
            std::lock_guard<std::mutex> lock(m_portLock);
            error = CSerial::read(bytes.data(), bytes.size(), &got, kReadTimeoutMs);
        }
        if (error != 0 && got == 0) {
            logMessage(LogError, "Device", "Exception catched when Read Serial port");
            m_abnormal = true;
            return;
        }
        m_assembler.feed(bytes.data(), got, [this](const PackageProperty_V1* frame, size_t length) {
            dump("R:    ", frame->bytes(), length);
            notify(DevPackageReceived, frame);
        });
    } catch (...) {
        logMessage(LogError, "Device", "Exception catched when Read Serial port");
        m_abnormal = true;
    }
}

void SimpleDevIo::onHangup()
{
    // Removal closes the port and joins this thread, so it runs on the owner's
    // thread. A later arrival makes this hang-up stale.
    const uint64_t openCount = m_openCount;
    QMetaObject::invokeMethod(
        this,
        [this, openCount] {
            if (openCount == m_openCount && isOpen())
                onDeviceRemoveComplete(portName());
        },
        Qt::QueuedConnection);
}

bool SimpleDevIo::openPort(const QString& portName, bool quiet)
{
    const QByteArray path = QByteArray::fromStdString(devicePath(portName.toStdString()));
    long error = 0;
    try {
        ++m_openCount;
        error = CSerialEx::open(path.constData());
        if (!quiet && error == EACCES)
            logMessage(LogError, "Device", "Device Open Error:%ld (no permission on %s. %s)", error, path.constData(),
                       PortDiagnosis::permissionText(QString::fromLocal8Bit(path)).toLocal8Bit().constData());
        else if (!quiet && error != 0)
            logMessage(LogError, "Device", "Device Open Error:%ld", error);
    } catch (...) {
    }
    return isOpen();
}

void SimpleDevIo::onDeviceArrival(const QString& portName) { arrive(portName, false); }

bool SimpleDevIo::tryArrival(const QString& portName)
{
    arrive(portName, true);
    return isOpen();
}

void SimpleDevIo::arrive(const QString& portName, bool quiet)
{
    if (isOpen())
        CSerialEx::close();
    // Emptied before the listener starts again: it owns the buffer while the port is open.
    m_assembler.clear();
    {
        std::lock_guard<std::mutex> lock(m_nameLock);
        m_portName = portName;
    }
    if (openPort(portName, quiet)) {
        logMessage(LogInfoLevel, "DevIo", "Device Connected : %s", portName.toLocal8Bit().constData());
        m_abnormal = false;
        notify(DevConnected, nullptr);
    } else {
        m_abnormal = true;
    }
}

void SimpleDevIo::onDeviceRemoveComplete(const QString& portName)
{
    m_abnormal = true;
    if (isOpen()) {
        try {
            CSerialEx::close();
            logMessage(LogInfoLevel, "DevIo", "Device Remove Completed : %s", portName.toLocal8Bit().constData());
        } catch (...) {
        }
    }
    m_assembler.clear();
    notify(DevDisconnected, nullptr);
}

void SimpleDevIo::disconnectDevice()
{
    try {
        CSerialEx::close();
    } catch (...) {
        logMessage(LogError, "Device", "Exception catched when close Serial port");
    }
    logMessage(LogInfoLevel, "Device", "disconnect");
    notify(DevDisconnected, nullptr);
}

bool SimpleDevIo::connectDevice()
{
    const QString name = portName();
    if (name.isEmpty())
        return false;
    if (isOpen())
        CSerialEx::close();
    m_assembler.clear();
    if (!openPort(name))
        return false;
    m_abnormal = false;
    logMessage(LogInfoLevel, "Device", "connect success");
    notify(DevConnected, nullptr);
    return true;
}

void SimpleDevIo::toggleDump() { m_dumpFlag = !m_dumpFlag; }

QString SimpleDevIo::portName() const
{
    std::lock_guard<std::mutex> lock(m_nameLock);
    return m_portName;
}

void SimpleDevIo::dump(const char* prefix, const uint8_t* data, size_t length)
{
    if (!m_dumpFlag)
        return;
    static const char digits[] = "0123456789ABCDEF";
    std::string line(prefix);
    line.reserve(line.size() + length * 3 + 2);
    for (size_t i = 0; i < length; ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 0x0F];
        line += ' ';
    }
    line += "\r\n";
    std::lock_guard<std::mutex> lock(m_dumpLock);
    if (m_dumpFile) {
        fwrite(line.data(), 1, line.size(), m_dumpFile);
        fflush(m_dumpFile);
    }
}

} // namespace zel
