#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// Datagrams the system dropped because they came faster than the visualiser
// read them (its socket's receive buffer was full). The count is the kernel's
// own; it is said in one line once a flood is over, not per datagram.
namespace ReceiveDrops {

// The buffer as the system counts it (a host datagram costs about 1280 bytes
// there, its data and the kernel's bookkeeping) that holds 0.5 s of states at
// 1000 states/s.
constexpr int kNeededBufferBytes = 500 * 1280;

// Asks for room for well over a second of states (beyond the system's limit
// where the process may). The size the socket got, as the system counts it,
// or -1.
int enlargeReceiveBuffer(int fd);

// The socket's count of datagrams dropped since it was opened; none when the
// system does not tell.
std::optional<uint32_t> droppedSoFar(int fd);

// Turns readings of that count into one line per flood. The clock is the
// caller's, in milliseconds.
class Report {
public:
    // A flood is over after this long without a new drop.
    static constexpr int64_t kQuietMs = 1000;

    explicit Report(uint16_t port) : mPort(port) { }

    // Takes a reading; returns the line to print when a flood just ended, else
    // an empty text.
    QString update(uint32_t dropped, int64_t nowMs);
    // Drops were seen whose line is not out yet: read again kQuietMs later.
    bool pending() const { return mUnsaid > 0; }

private:
    uint16_t mPort;
    bool mStarted = false;
    uint32_t mLast = 0;
    uint64_t mUnsaid = 0;
    int64_t mFirstMs = 0;
    int64_t mLastDropMs = 0;
};

} // namespace ReceiveDrops
