// Pseudo-terminal pairs, a recording listener and event-driven waiting.
#pragma once

#include "tests/common/Poll.h"
#include "link/DevIo.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace linktest {

using Bytes = std::vector<uint8_t>;

inline QCoreApplication* app()
{
    static int argc = 1;
    static char name[] = "link_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* instance = new QCoreApplication(argc, argv);
    return instance;
}

// Runs the Qt event loop until the predicate holds or 10 s pass.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    app();
    return pollUntil(done, timeoutMs);
}

// The test plays the aircraft on the master side; the device opens the slave path.
struct PtyPair {
    int master = -1;
    int slave = -1;
    std::string slavePath;

    PtyPair()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            ADD_FAILURE() << "openpty failed";
        slavePath = name;
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~PtyPair() { closeMaster(), closeSlave(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void closeSlave()
    {
        if (slave >= 0)
            ::close(slave);
        slave = -1;
    }
    void send(const Bytes& bytes) const
    {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Reads exactly n bytes from the master side, or what came within the time-out.
    Bytes receive(size_t n, int timeoutMs = 10000) const
    {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaledTimeout(timeoutMs));
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{master, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
                break;
            uint8_t buf[4096];
            const ssize_t got = ::read(master, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0)
                break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }
};

// Records every notification with the thread it arrived on.
class Recorder : public zel::DevListener {
public:
    struct Entry {
        int code;
        Bytes frame;
        std::thread::id thread;
    };

    int32_t onNotify(const DevNotify* n) override
    {
        Entry e{n->type, {}, std::this_thread::get_id()};
        if (const PackageProperty_V1* p = n->package())
            e.frame.assign(p->bytes(), p->bytes() + p->length());
        std::lock_guard<std::mutex> lock(m_lock);
        m_entries.push_back(std::move(e));
        return 0;
    }
    std::vector<Entry> entries() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_entries;
    }
    std::vector<int> codes() const
    {
        std::vector<int> out;
        for (const Entry& e : entries())
            out.push_back(e.code);
        return out;
    }
    size_t count(int code) const
    {
        size_t n = 0;
        for (const Entry& e : entries())
            n += e.code == code;
        return n;
    }
    bool waitFor(int code, size_t n = 1)
    {
        return waitUntil([&] { return count(code) >= n; });
    }

private:
    mutable std::mutex m_lock;
    std::vector<Entry> m_entries;
};

} // namespace linktest
