#include "tools/flight-emulator/EmulatorLoop.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace emu {

bool OutputQueue::push(std::vector<uint8_t> bytes, bool droppable)
{
    if (bytes.empty())
        return true;
    if ((droppable && mBytes >= kDroppableLimit) || mBytes + bytes.size() > kHardLimit)
        return false;
    mBytes += bytes.size();
    mFrames.push_back(std::move(bytes));
    return true;
}

bool OutputQueue::flush(int fd)
{
    while (!mFrames.empty()) {
        const std::vector<uint8_t>& front = mFrames.front();
        const ssize_t n = write(fd, front.data() + mHeadOffset, front.size() - mHeadOffset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        mHeadOffset += static_cast<size_t>(n);
        mBytes -= static_cast<size_t>(n);
        if (mHeadOffset == front.size()) {
            mFrames.pop_front();
            mHeadOffset = 0;
        }
    }
    return true;
}

void OutputQueue::clear()
{
    mFrames.clear();
    mHeadOffset = 0;
    mBytes = 0;
}

EmulatorLoop::EmulatorLoop(const EmulatorOptions& options, PseudoTerminal& terminal, EventSink events)
    : mTerminal(terminal),
      mEvents(std::move(events)),
      mFaults(options.faultRate, options.session.seed),
      mSession(options.session,
               {[this](std::vector<uint8_t> frame, bool droppable) { queue(std::move(frame), droppable); },
                [this](const std::string& line) { mEvents(line); }})
{
}

double EmulatorLoop::now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void EmulatorLoop::queue(std::vector<uint8_t> frame, bool droppable)
{
    if (!mTerminal.hostConnected())
        return;
    mFaults.apply(frame);
    if (!mOut.push(std::move(frame), droppable) && droppable)
        ++mDroppedStates;
}

void EmulatorLoop::onHostChange(PseudoTerminal::Change change)
{
    if (change == PseudoTerminal::Change::None)
        return;
    // Either way the next host starts from a clean line and a fresh session.
    mSession.reset();
    mAssembler.clear();
    mOut.clear();
    if (change == PseudoTerminal::Change::Connected) {
        mEvents("connected");
    } else {
        mTerminal.discardPending();
        mEvents("disconnected, waiting for a host");
    }
}

bool EmulatorLoop::readTerminal()
{
    uint8_t buf[4096];
    for (;;) {
        const ssize_t n = read(mTerminal.fd(), buf, sizeof buf);
        if (n > 0) {
            const double t = now();
            mAssembler.feed(buf, static_cast<size_t>(n), [&](const PackageProperty_V1* frame, size_t length) {
                mSession.onFrame(frame, length, t);
            });
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n == 0)
            errno = EIO;
        return false;
    }
}

bool EmulatorLoop::run(int stopFd)
{
    mEvents("waiting for a host");
    for (;;) {
        const bool connected = mTerminal.hostConnected();
        pollfd fds[3] = {{stopFd, POLLIN, 0},
                         {mTerminal.watchFd(), POLLIN, 0},
                         {mTerminal.fd(), static_cast<short>(POLLIN | (connected && !mOut.empty() ? POLLOUT : 0)), 0}};
        timespec timeout{};
        timespec* wait = nullptr;
        if (connected) {
            const double due = mSession.nextDue() - now();
            if (std::isfinite(due)) {
                const double d = std::max(0.0, due);
                timeout.tv_sec = static_cast<time_t>(d);
                timeout.tv_nsec = static_cast<long>((d - static_cast<double>(timeout.tv_sec)) * 1e9);
                wait = &timeout;
            }
        }
        if (ppoll(fds, 3, wait, nullptr) < 0 && errno != EINTR) {
            mEvents(std::string("poll failed: ") + std::strerror(errno));
            return false;
        }
        if (fds[0].revents)
            return true;
        if (fds[1].revents)
            onHostChange(mTerminal.readWatch());
        // Our own descriptor of the host's end keeps the pair alive, so a hang-up
        // or error here means the terminal itself is broken; polling on would spin.
        if ((fds[2].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[2].revents & POLLIN)) {
            mEvents("terminal failed: hung up");
            return false;
        }
        if ((fds[2].revents & POLLIN) && !readTerminal()) {
            mEvents("terminal failed: " + std::string(std::strerror(errno)));
            return false;
        }
        if (mTerminal.hostConnected()) {
            mSession.advance(now());
            if (!mOut.flush(mTerminal.fd()))
                mOut.clear();
        }
    }
}

} // namespace emu
