#include "link/Serial.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Deadline {
    explicit Deadline(int timeoutMs) : infinite(timeoutMs < 0), end(Clock::now() + std::chrono::milliseconds(timeoutMs))
    {
    }
    int remainingMs() const
    {
        if (infinite)
            return -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        return left > 0 ? int(left) : 0;
    }
    bool infinite;
    Clock::time_point end;
};

// 0 when ready, ETIMEDOUT, EIO when the line hung up, or the poll error.
long waitFor(int fd, short events, const Deadline& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, deadline.remainingMs());
        // A hung-up tty stays "readable" while its reads return 0, and we only
        // wait after a read found nothing: without this a read would spin on
        // it for ever, past any deadline.
        if (r > 0 && (p.revents & (POLLHUP | POLLNVAL)))
            return EIO;
        if (r > 0)
            return 0; // ready, or an error condition the next call will report
        if (r == 0)
            return ETIMEDOUT;
        if (errno != EINTR)
            return errno;
    }
}

speed_t speedOf(int baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

int baudOf(speed_t speed)
{
    for (int baud : {9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600})
        if (speedOf(baud) == speed)
            return baud;
    return -1;
}

} // namespace

CSerial::~CSerial() { close(); }

std::string CSerial::devicePath(const std::string& name)
{
    // Any '/' makes it a path, relative ones too ("./fc" is not "/dev/./fc").
    return name.find('/') != std::string::npos ? name : "/dev/" + name;
}

long CSerial::open(const char* device, uint32_t, uint32_t, bool)
{
    if (isOpen())
        return fail(EALREADY);
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    if (::ioctl(fd, TIOCEXCL) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const long error = errno;
        ::close(fd);
        return fail(error);
    }
    m_fd = fd;
    m_readMode = ReadNonblocking;
    setEventMask(EventDefault);
    if (const long error = setup(115200, 8, 0, 1)) {
        close();
        return fail(error);
    }
    return fail(0);
}

long CSerial::closeLocked()
{
    const int fd = m_fd.exchange(-1);
    if (fd < 0)
        return fail(EBADF);
    // Unsent output would make close() wait for the driver's drain time-out
    // (up to 30 s on a USB modem port) when the peer has stopped reading.
    ::tcflush(fd, TCIOFLUSH);
    return fail(::close(fd) == 0 ? 0 : errno);
}

long CSerial::close()
{
    std::lock_guard<std::mutex> lock(m_portLock);
    return closeLocked();
}

long CSerial::setup(int baudRate, int dataBits, int parity, int stopBits)
{
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return fail(errno);
    const speed_t speed = speedOf(baudRate);
    if (speed == B0 || dataBits < 5 || dataBits > 8 || parity < 0 || parity > 2 || (stopBits != 1 && stopBits != 2))
        return fail(EINVAL);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag |= dataBits == 5 ? CS5 : dataBits == 6 ? CS6 : dataBits == 7 ? CS7 : CS8;
    if (parity != 0) { // 1 odd, 2 even
        tio.c_cflag |= PARENB | (parity == 1 ? PARODD : 0);
        tio.c_iflag |= INPCK;
    }
    if (stopBits == 2)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return fail(::tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : errno);
}

long CSerial::setEventMask(uint32_t events)
{
    if (!isOpen())
        return fail(EBADF);
    m_eventMask = events;
    return fail(0);
}

long CSerial::waitEvent(int timeoutMs)
{
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    const uint32_t mask = m_eventMask;
    pollfd p{fd, short((mask & EventRxChar) ? POLLIN : 0), 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return fail(errno);
    if (r == 0)
        return fail(ETIMEDOUT);
    uint32_t events = 0;
    if (p.revents & POLLIN)
        events |= EventRxChar;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
        events |= EventError;
    m_events = events & mask;
    return fail(0);
}

long CSerial::setHandshaking(int mode)
{
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    if (mode < HandshakeOff || mode > HandshakeSoftware)
        return fail(EINVAL);
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return fail(errno);
    tio.c_cflag &= ~tcflag_t(CRTSCTS);
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF);
    if (mode == HandshakeHardware)
        tio.c_cflag |= CRTSCTS;
    else if (mode == HandshakeSoftware)
        tio.c_iflag |= IXON | IXOFF;
    return fail(::tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : errno);
}

long CSerial::setReadTimeouts(int mode)
{
    if (!isOpen())
        return fail(EBADF);
    if (mode != ReadNonblocking && mode != ReadBlocking)
        return fail(EINVAL);
    m_readMode = mode;
    return fail(0);
}

namespace {
bool readAttributes(int fd, termios* tio) { return fd >= 0 && ::tcgetattr(fd, tio) == 0; }
} // namespace

int CSerial::baudRate()
{
    termios tio{};
    return readAttributes(m_fd, &tio) ? baudOf(::cfgetospeed(&tio)) : -1;
}

int CSerial::dataBits()
{
    termios tio{};
    if (!readAttributes(m_fd, &tio))
        return -1;
    switch (tio.c_cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

int CSerial::parity()
{
    termios tio{};
    if (!readAttributes(m_fd, &tio))
        return -1;
    if (!(tio.c_cflag & PARENB))
        return 0;
    return (tio.c_cflag & PARODD) ? 1 : 2;
}

int CSerial::stopBits()
{
    termios tio{};
    return readAttributes(m_fd, &tio) ? ((tio.c_cflag & CSTOPB) ? 2 : 1) : -1;
}

int CSerial::handshaking()
{
    termios tio{};
    if (!readAttributes(m_fd, &tio))
        return -1;
    if (tio.c_cflag & CRTSCTS)
        return HandshakeHardware;
    return (tio.c_iflag & IXON) ? HandshakeSoftware : HandshakeOff;
}

long CSerial::writeText(const char* text) { return write(text, strlen(text)); }

long CSerial::write(const void* data, size_t length, size_t* written, int timeoutMs)
{
    size_t done = 0;
    if (written)
        *written = 0;
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    const Deadline deadline(timeoutMs);
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (done < length) {
        const ssize_t n = ::write(fd, bytes + done, length - done);
        if (n > 0) {
            done += size_t(n);
            if (written)
                *written = done;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return fail(errno);
        if (const long error = waitFor(fd, POLLOUT, deadline))
            return fail(error);
    }
    return fail(0);
}

long CSerial::read(void* data, size_t length, size_t* readCount, int timeoutMs)
{
    size_t done = 0;
    if (readCount)
        *readCount = 0;
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    const Deadline deadline(timeoutMs);
    auto* bytes = static_cast<uint8_t*>(data);
    while (done < length) {
        const ssize_t n = ::read(fd, bytes + done, length - done);
        if (n > 0) {
            done += size_t(n);
            if (readCount)
                *readCount = done;
            if (m_readMode == ReadNonblocking)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A raw tty (VMIN = VTIME = 0) reports "nothing yet" as 0, not EAGAIN.
        if (n < 0 && errno != EAGAIN)
            return fail(errno);
        if (const long error = waitFor(fd, POLLIN, deadline))
            return fail(error);
    }
    return fail(0);
}

long CSerial::bytesWaiting(size_t* count)
{
    int n = 0;
    const int fd = m_fd;
    if (fd < 0)
        return fail(EBADF);
    if (::ioctl(fd, FIONREAD, &n) != 0)
        return fail(errno);
    *count = size_t(n);
    return fail(0);
}

CSerialEx::~CSerialEx()
{
    // The derived part is gone already; the listener must not call into it.
    stopListener();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

long CSerialEx::open(const char* device, uint32_t inQueue, uint32_t outQueue, bool noListener)
{
    if (const long error = CSerial::open(device, inQueue, outQueue, true))
        return error;
    if (m_wakeFd < 0) {
        m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (m_wakeFd < 0) {
            const long error = errno;
            CSerial::close();
            return fail(error);
        }
    }
    return noListener ? 0 : startListener();
}

long CSerialEx::close()
{
    stopListener();
    return CSerial::close();
}

long CSerialEx::startListener()
{
    if (!isOpen() || m_wakeFd < 0)
        return fail(EBADF);
    if (m_thread.joinable())
        return fail(EALREADY);
    m_stop = false;
    m_thread = std::thread(&CSerialEx::listen, this);
    return fail(0);
}

long CSerialEx::stopListener(int)
{
    if (!m_thread.joinable())
        return 0;
    m_stop = true;
    const uint64_t one = 1;
    (void)!::write(m_wakeFd, &one, sizeof one);
    // Called from the listener itself (a listener closing the port from its
    // handler): it leaves when the handler returns; a later stop joins it.
    if (m_thread.get_id() == std::this_thread::get_id())
        return 0;
    // The thread never blocks anywhere but in poll(), so joining is prompt.
    m_thread.join();
    uint64_t drained;
    (void)!::read(m_wakeFd, &drained, sizeof drained);
    m_stop = false;
    return 0;
}

void CSerialEx::listen()
{
    bool watchPort = true;
    while (!m_stop) {
        const int fd = handle();
        const uint32_t mask = eventMask();
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {fd, short((mask & EventRxChar) ? POLLIN : 0), 0}};
        const int r = ::poll(fds, (watchPort && fd >= 0) ? 2 : 1, -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (m_stop)
            break;
        if (fds[0].revents) {
            uint64_t drained;
            (void)!::read(m_wakeFd, &drained, sizeof drained);
            continue;
        }
        if (!watchPort)
            continue;
        const short revents = fds[1].revents;
        uint32_t events = 0;
        if (revents & POLLIN)
            events |= EventRxChar;
        if (revents & POLLERR)
            events |= EventError;
        events &= mask;
        if (events)
            onEvent(events, (revents & POLLERR) ? 1u : 0u);
        // A dead descriptor stays readable for ever; stop polling it.
        if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
            watchPort = false;
            onHangup();
        }
    }
}
