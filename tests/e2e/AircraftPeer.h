// The flight controller's side of the serial link on a pseudo-terminal, for
// running the real host program against a scripted aircraft.
#pragma once

#include "tests/common/TestTime.h"
#include "link/Package.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <cstdlib>
#include <deque>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

struct Frame {
    qint64 atMs;
    uint8_t cmdSet;
    uint8_t cmdId;
    QByteArray payload;
};

class AircraftPeer {
public:
    AircraftPeer()
    {
        clock.start();
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            // The host gets a link, as the emulator gives it: after a hang-up the
            // kernel hands the terminal's number to the next pseudo-terminal made
            // (another test's), and a host reopening the number would read that one.
            char dir[] = "/tmp/quvor-peer-XXXXXX";
            if (::mkdtemp(dir)) {
                linkDir = dir;
                path = linkDir + "/fc";
                if (::symlink(name, path.toLocal8Bit().constData()) != 0)
                    path = name;
            } else {
                path = name;
            }
            ::close(slave); // the host opens it by name
            ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
            // The host is started from this process: it must not inherit the
            // master, or closing ours would not hang up the line.
            ::fcntl(master, F_SETFD, FD_CLOEXEC);
        }
    }
    ~AircraftPeer()
    {
        hangUp();
        if (!linkDir.isEmpty())
            ::rmdir(linkDir.toLocal8Bit().constData());
    }

    void hangUp()
    {
        if (!linkDir.isEmpty())
            ::unlink((linkDir + "/fc").toLocal8Bit().constData());
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Next frame with this command set and id; earlier ones are kept in history.
    bool expect(uint8_t cmdSet, uint8_t cmdId, Frame& out, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            while (!pending.empty()) {
                Frame f = pending.front();
                pending.pop_front();
                if (f.cmdSet == cmdSet && f.cmdId == cmdId) {
                    out = f;
                    return true;
                }
            }
            const int left = scaledTimeout(timeoutMs) - int(timer.elapsed());
            if (left <= 0 || !readSome(left))
                return false;
        }
    }
    bool send(uint8_t cmdSet, uint8_t cmdId, const QByteArray& payload)
    {
        const std::vector<uint8_t> frame =
            buildPackageFrom(makeAddress(3, 0), cmdSet, cmdId, reinterpret_cast<const uint8_t*>(payload.data()),
                             size_t(payload.size()), 10, 0, seq++);
        return ::write(master, frame.data(), frame.size()) == ssize_t(frame.size());
    }

    int master = -1;
    QString path;
    QString linkDir; // holds the link the host opens; empty when making it failed
    QElapsedTimer clock;
    std::vector<Frame> history;

private:
    bool readSome(int timeoutMs)
    {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        if (!(p.revents & POLLIN)) {
            ::usleep(20000); // no host on the other side yet
            return true;
        }
        uint8_t buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            return true;
        assembler.feed(buf, size_t(n), [this](const PackageProperty_V1* frame, size_t) {
            Frame f{clock.elapsed(), frame->cmdSet, frame->cmdId,
                    QByteArray(reinterpret_cast<const char*>(frame->payload()), int(frame->payloadLength()))};
            history.push_back(f);
            pending.push_back(f);
        });
        return true;
    }

    PackageAssembler assembler;
    std::deque<Frame> pending;
    uint16_t seq = 0;
};
