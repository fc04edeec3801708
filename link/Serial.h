// POSIX serial port with an event-driven listener thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// Thin wrapper around one serial port descriptor. Operations return 0 or an
// errno value (EBADF not open, EALREADY already open, ETIMEDOUT, EINVAL) and
// remember it as the last error.
class CSerial {
public:
    enum Event : uint32_t {
        EventRxChar = 0x01, // characters received
        EventBreak = 0x40,
        EventError = 0x80, // line error
        EventDefault = EventRxChar | EventBreak | EventError,
    };
    enum Handshake { HandshakeOff = 0, HandshakeHardware = 1, HandshakeSoftware = 2 };
    enum ReadMode { ReadNonblocking = 0, ReadBlocking = 1 };
    static constexpr int kInfinite = -1;

    CSerial() = default;
    virtual ~CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    // "ttyACM0" -> "/dev/ttyACM0"; a name with a '/' anywhere is a path already.
    static std::string devicePath(const std::string& name);

    // Opens exclusively, raw, 115200 8N1, no flow control. The kernel sizes
    // the port's buffers itself, so the queue sizes and overlapped change nothing.
    virtual long open(const char* device, uint32_t inQueue = 0, uint32_t outQueue = 0, bool overlapped = true);
    virtual long close();
    virtual long setup(int baudRate = 115200, int dataBits = 8, int parity = 0, int stopBits = 1);
    virtual long setEventMask(uint32_t events);
    // Waits for one of the masked events; eventsReceived() tells which.
    virtual long waitEvent(int timeoutMs = kInfinite);
    virtual long setHandshaking(int mode);
    virtual long setReadTimeouts(int mode);
    virtual int baudRate();
    virtual int dataBits();
    virtual int parity();
    virtual int stopBits();
    virtual int handshaking();
    virtual uint32_t eventMask() const { return m_eventMask.load(); }
    // A zero-terminated text, written without its terminator.
    virtual long writeText(const char* text);
    // Writes everything or fails; ETIMEDOUT when the port does not take it in time.
    virtual long write(const void* data, size_t length, size_t* written = nullptr, int timeoutMs = kInfinite);
    // Non-blocking mode returns what is there after waiting up to the time-out
    // for the first byte; blocking mode waits for the whole length.
    virtual long read(void* data, size_t length, size_t* readCount = nullptr, int timeoutMs = kInfinite);

    // Bytes waiting in the driver's input queue.
    long bytesWaiting(size_t* count);
    bool isOpen() const { return m_fd.load() >= 0; }
    int handle() const { return m_fd.load(); }
    long lastError() const { return m_lastError.load(); }
    uint32_t eventsReceived() const { return m_events.load(); }

protected:
    long fail(long error)
    {
        m_lastError = error;
        return error;
    }
    // Serialises the descriptor's reads, writes and its closing.
    std::mutex m_portLock;

private:
    long closeLocked();

    std::atomic<int> m_fd{-1};
    std::atomic<long> m_lastError{0};
    std::atomic<uint32_t> m_events{0};
    std::atomic<uint32_t> m_eventMask{0};
    int m_readMode = ReadNonblocking;
};

// Adds the listener thread: it sleeps in poll() on the port and a wake-up
// descriptor and calls onEvent for every masked event.
class CSerialEx : public CSerial {
public:
    CSerialEx() = default;
    ~CSerialEx() override;

    long open(const char* device, uint32_t inQueue = 0, uint32_t outQueue = 0, bool noListener = false) override;
    long close() override;
    long startListener();
    long stopListener(int timeoutMs = kInfinite);
    bool listening() const { return m_thread.joinable(); }

protected:
    virtual void onEvent(uint32_t events, uint32_t errors) = 0;
    // The peer hung up (device pulled, pseudo-terminal master closed). The
    // listener stops watching the descriptor and waits to be stopped.
    virtual void onHangup() { }

private:
    void listen();

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    int m_wakeFd = -1;
};
