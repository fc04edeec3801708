// The emulator's event loop on a real pseudo-terminal, with the test as the host.

#include "tools/flight-emulator/EmulatorLoop.h"
#include "tests/common/TestTime.h"
#include "tests/tools/flight-emulator/SimulationPayloads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace emu;
using namespace std::chrono_literals;

namespace {

struct Received {
    uint8_t set, id;
    uint16_t seq;
    std::vector<uint8_t> payload;
};

// The host's end as the link library opens it: raw, non-blocking, exclusive.
class HostPort {
public:
    explicit HostPort(const std::string& path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return;
        ioctl(fd, TIOCEXCL);
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    ~HostPort() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    void send(uint8_t set, uint8_t id, std::vector<uint8_t> payload, uint16_t seq = 0)
    {
        const auto frame = buildPackage(set, id, payload.data(), payload.size(), 3, 0, seq);
        ASSERT_EQ(write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
    // Reads until a package of the given kind arrives or the deadline passes.
    bool waitFor(uint8_t set, uint8_t id, std::chrono::milliseconds deadline = 5000ms)
    {
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(scaledTimeout(int(deadline.count())));
        for (;;) {
            for (size_t i = checked; i < received.size(); ++i)
                if (received[i].set == set && received[i].id == id) {
                    checked = i + 1;
                    return true;
                }
            checked = received.size();
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            uint8_t buf[4096];
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0)
                assembler.feed(buf, static_cast<size_t>(n), [&](const PackageProperty_V1* f, size_t) {
                    received.push_back(
                        {f->cmdSet, f->cmdId, uint16_t(f->seq()), {f->payload(), f->payload() + f->payloadLength()}});
                });
        }
    }

    int fd = -1;
    PackageAssembler assembler;
    std::vector<Received> received;
    size_t checked = 0;
};

// Whether a process without privileges could open the terminal now. Root
// ignores exclusive mode, so as root the check runs in a child that drops it.
bool unprivilegedCanOpen(const std::string& path)
{
    if (geteuid() != 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }
    chmod(path.c_str(), 0666);
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(2);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class LoopTest : public ::testing::Test {
protected:
    void start(int rateHz = 50)
    {
        std::string error;
        ASSERT_TRUE(terminal.open(error)) << error;
        ASSERT_EQ(pipe(stopPipe), 0);
        EmulatorOptions options;
        options.session.rateHz = rateHz;
        loop = std::make_unique<EmulatorLoop>(options, terminal, [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(line);
            changed.notify_all();
        });
        thread = std::thread([this] { loopResult = loop->run(stopPipe[0]); });
    }
    void TearDown() override
    {
        if (thread.joinable()) {
            const char c = 1;
            EXPECT_EQ(write(stopPipe[1], &c, 1), 1);
            thread.join();
            EXPECT_TRUE(loopResult);
        }
        for (int fd : stopPipe)
            if (fd >= 0)
                ::close(fd);
    }
    // Polls a condition that no event reports, such as the loop's drop counter.
    static bool waitUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaledTimeout(10000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // Waits until `count` events starting with `prefix` have been reported.
    bool waitEvent(const std::string& prefix, size_t count = 1)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 5s, [&] {
            return size_t(std::count_if(events.begin(), events.end(),
                                        [&](const std::string& e) { return e.rfind(prefix, 0) == 0; })) >= count;
        });
    }

    PseudoTerminal terminal;
    int stopPipe[2] = {-1, -1};
    std::unique_ptr<EmulatorLoop> loop;
    std::thread thread;
    bool loopResult = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
};

} // namespace

TEST_F(LoopTest, AnswersAHostAndStartsCleanForTheNextOne)
{
    start();
    {
        HostPort first(terminal.hostPath());
        ASSERT_GE(first.fd, 0);
        ASSERT_TRUE(waitEvent("connected"));
        first.send(0, 12, {0}, 4);
        ASSERT_TRUE(first.waitFor(0, 12));
        EXPECT_EQ(first.received.back().seq, 4);
        // Leaves with the answers to its start request unread.
        first.send(11, 1, {0, 1, 0, 0}, 5);
        ASSERT_TRUE(waitEvent("start: product Tavik1, mission square"));
    }
    ASSERT_TRUE(waitEvent("disconnected, waiting for a host"));

    // The first host left exclusive mode set; the next one still gets in.
    EXPECT_TRUE(unprivilegedCanOpen(terminal.hostPath()));
    HostPort second(terminal.hostPath());
    ASSERT_GE(second.fd, 0) << std::strerror(errno);
    ASSERT_TRUE(waitEvent("connected", 2));
    second.send(0, 12, {0}, 0);
    ASSERT_TRUE(second.waitFor(0, 12));
    ASSERT_EQ(second.received.size(), 1u) << "nothing left over from the first host";
    EXPECT_EQ(second.received[0].seq, 0);
}

TEST_F(LoopTest, KeepsServingAHostThatStoppedReading)
{
    start(1000);
    HostPort host(terminal.hostPath());
    ASSERT_TRUE(waitEvent("connected"));
    host.send(11, 1, {0, 1, 0, 0});
    host.send(11, 4, emutest::environmentPayload(0.4, 1.9));
    ASSERT_TRUE(waitEvent("environment received"));
    // About 70 kB of flight states a second meet a terminal that holds a few kB.
    EXPECT_TRUE(waitUntil([&] { return loop->droppedStates() > 0; })) << "no flight state was dropped";

    host.send(11, 4, emutest::stopPayload());
    ASSERT_TRUE(waitEvent("stop")) << "the loop kept reading while its writes were blocked";
    host.send(0, 12, {0}, 9);
    ASSERT_TRUE(host.waitFor(0, 12));
    EXPECT_EQ(host.received.back().seq, 9);
}

TEST(PseudoTerminalLink, KeepsTheLinkOnlyWhereItMayAndOnlyWhileItOwnsIt)
{
    char dirTemplate[] = "/tmp/quvor-emu-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string link = dir + "/fc";
    auto target = [&]() {
        char buf[256] = {};
        return readlink(link.c_str(), buf, sizeof buf - 1) < 0 ? std::string() : std::string(buf);
    };
    std::string error;

    { // A stale link from an earlier run is replaced, and removed at the end.
        ASSERT_EQ(symlink("/dev/pts/nonexistent", link.c_str()), 0);
        PseudoTerminal t;
        ASSERT_TRUE(t.open(error)) << error;
        ASSERT_TRUE(t.makeLink(link, error)) << error;
        EXPECT_EQ(target(), t.hostPath());
        t.close();
        struct stat st;
        EXPECT_NE(lstat(link.c_str(), &st), 0);
    }
    { // A link another emulator has taken over is left to it.
        PseudoTerminal t;
        ASSERT_TRUE(t.open(error));
        ASSERT_TRUE(t.makeLink(link, error));
        ASSERT_EQ(unlink(link.c_str()), 0);
        ASSERT_EQ(symlink("/dev/pts/other", link.c_str()), 0);
        t.close();
        EXPECT_EQ(target(), "/dev/pts/other");
        unlink(link.c_str());
    }
    { // A real file is never replaced.
        FILE* f = std::fopen(link.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("keep", f);
        std::fclose(f);
        PseudoTerminal t;
        ASSERT_TRUE(t.open(error));
        EXPECT_FALSE(t.makeLink(link, error));
        EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
        t.close();
        struct stat st;
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_size, 4);
        unlink(link.c_str());
    }
    rmdir(dir.c_str());
}

TEST(FaultInjector, DamagesAboutTheRequestedShareOfBytes)
{
    for (double rate : {0.0, 0.05, 0.3}) {
        FaultInjector faults(rate, 1);
        const std::vector<uint8_t> original(100000, 0x55);
        std::vector<uint8_t> bytes = original;
        faults.apply(bytes);
        const double damaged = double(faults.dropped() + faults.corrupted()) / original.size();
        EXPECT_NEAR(damaged, rate, 0.01) << rate;
        EXPECT_EQ(bytes.size(), original.size() - faults.dropped());
        EXPECT_EQ(size_t(std::count_if(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0x55; })),
                  faults.corrupted());
        if (rate > 0) {
            EXPECT_GT(faults.dropped(), 0u);
        }
    }
}
