// Host-added latency: a flight-state frame written on the pseudo-terminal to
// its datagram received on loopback, through the real QuvorSimulator process.
// Also the share of states that became datagrams and, at 200 Hz, the host's
// CPU use and memory.
#include "tests/e2e/AircraftPeer.h"
#include "tests/e2e/E2eSupport.h"

#include "common/StateDatagram.h"
#include "link/Messages.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

// Receives datagrams on 127.0.0.1:5566 on a thread of its own and notes when
// each state (by its Time value) arrived.
class Receiver {
public:
    Receiver()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        timeval tv{0, 100000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(StateDatagram::Port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        thread = std::thread([this] { loop(); });
    }
    ~Receiver()
    {
        running = false;
        thread.join();
        ::close(fd);
    }
    std::map<long, Clock::time_point> arrivals()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return arrived;
    }

    bool bound = false;

private:
    void loop()
    {
        char buf[2048];
        while (running) {
            const ssize_t n = ::recv(fd, buf, sizeof buf - 1, 0);
            if (n <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            buf[n] = '\0';
            if (!std::strstr(buf, "SenderIP")) // zero states carry no time
                continue;
            const char* time = std::strstr(buf, "\"Time\":");
            if (!time)
                continue;
            std::lock_guard<std::mutex> lock(mutex);
            arrived.emplace(std::strtol(time + 7, nullptr, 10), now);
        }
    }

    int fd = -1;
    std::atomic<bool> running{true};
    std::thread thread;
    std::mutex mutex;
    std::map<long, Clock::time_point> arrived;
};

QByteArray flightState(long index)
{
    FlightStateRecord r;
    r.flags = 0x03;
    r.time = float(index) + 0.25f;
    r.roll = 0.5f;
    const std::vector<uint8_t> bytes = r.encode();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

// CPU time of every thread of the process, from the scheduler's nanosecond
// counters (finer than the clock ticks of /proc/PID/stat).
double cpuSeconds(qint64 pid)
{
    const QString tasks = QString("/proc/%1/task").arg(pid);
    double total = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in((tasks + "/" + task + "/schedstat").toStdString());
        unsigned long long runNs = 0;
        if (in >> runNs)
            total += double(runNs) / 1e9;
    }
    return total;
}

double statusKiB(qint64 pid, const std::string& key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::stod(line.substr(key.size() + 1));
    return 0;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// Streams states at rateHz for seconds after a short warm-up, timing each from
// just before its write to its datagram's arrival.
void BM_HostLatency(benchmark::State& state)
{
    const int rateHz = int(state.range(0));
    const double seconds = rateHz >= 1000 ? 3.0 : 5.0;
    Receiver receiver;
    AircraftPeer peer;
    HostProcess host;
    if (!receiver.bound || peer.path.isEmpty()) {
        state.SkipWithError("UDP port 5566 or a pseudo-terminal is not available");
        return;
    }
    host.start({"--port", peer.path, "--auto-start"});
    Frame f;
    if (!peer.expect(0x00, 0x0C, f, 10000) || !peer.send(0x00, 0x0C, QByteArray(6, '\0')) ||
        !peer.expect(0x0B, 1, f, 5000) || !peer.send(0x0B, 1, QByteArray(4, '\0')) ||
        !peer.send(0x0B, 3, QByteArray(1, '\x01')) || !peer.expect(0x0B, 4, f, 5000)) {
        state.SkipWithError("the host did not start a simulation");
        return;
    }
    const qint64 pid = host.process.processId();

    for (auto _ : state) {
        const auto period = std::chrono::nanoseconds(1000000000L / rateHz);
        const long warmup = rateHz / 2;
        const long total = warmup + long(seconds * rateHz);
        std::vector<Clock::time_point> sent(static_cast<size_t>(total));
        double cpuStart = 0;
        Clock::time_point measureStart;
        Clock::time_point next = Clock::now();
        for (long i = 0; i < total; ++i) {
            if (i == warmup) {
                cpuStart = cpuSeconds(pid);
                measureStart = Clock::now();
            }
            std::this_thread::sleep_until(next);
            next += period;
            sent[size_t(i)] = Clock::now();
            peer.send(0x0B, 6, flightState(i));
        }
        const double wall = std::chrono::duration<double>(Clock::now() - measureStart).count();
        const double cpu = cpuSeconds(pid) - cpuStart;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));

        const auto arrived = receiver.arrivals();
        std::vector<double> latencies;
        for (long i = warmup; i < total; ++i) {
            const auto it = arrived.find(i);
            if (it != arrived.end())
                latencies.push_back(std::chrono::duration<double, std::micro>(it->second - sent[size_t(i)]).count());
        }
        state.SetIterationTime(wall);
        state.counters["p50_us"] = percentile(latencies, 0.50);
        state.counters["p99_us"] = percentile(latencies, 0.99);
        state.counters["max_us"] = percentile(latencies, 1.0);
        state.counters["delivered_pct"] = 100.0 * double(latencies.size()) / double(total - warmup);
        state.counters["host_cpu_pct"] = 100.0 * cpu / wall;
        state.counters["host_rss_MiB"] = statusKiB(pid, "VmRSS") / 1024.0;
        state.counters["host_peak_rss_MiB"] = statusKiB(pid, "VmHWM") / 1024.0;
    }
    ::kill(pid_t(pid), SIGTERM);
    host.finished(5000);
}

BENCHMARK(BM_HostLatency)->Arg(200)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    e2eApp();
    qputenv("QUVOR_BIN_DIR",
            qgetenv("QUVOR_BIN_DIR").isEmpty() ? QCoreApplication::applicationDirPath().toLocal8Bit() + "/../bin"
                                               : qgetenv("QUVOR_BIN_DIR"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
