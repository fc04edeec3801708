#pragma once
// The emulator's single-threaded event loop: waits with ppoll() on the
// terminal, the host-presence watch and a stop descriptor, feeds received
// bytes to the session and writes its frames without ever blocking.

#include "tools/flight-emulator/EmulatorOptions.h"
#include "tools/flight-emulator/FaultInjector.h"
#include "tools/flight-emulator/PseudoTerminal.h"

#include "link/Package.h"

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace emu {

// Frames waiting for the host, written as far as the terminal takes them.
class OutputQueue {
public:
    // Flight states are skipped once this much is waiting: a host that does not
    // read gets the newest states when it resumes, not a backlog.
    static constexpr size_t kDroppableLimit = 8 * 1024;
    // Beyond this even answers are dropped; only a host that writes without
    // ever reading gets here.
    static constexpr size_t kHardLimit = 256 * 1024;

    // False when the bytes were dropped.
    bool push(std::vector<uint8_t> bytes, bool droppable);
    // Writes what fd accepts; false on a write error other than a full terminal.
    bool flush(int fd);
    void clear();
    bool empty() const { return mFrames.empty(); }
    size_t bytes() const { return mBytes; }

private:
    std::deque<std::vector<uint8_t>> mFrames;
    size_t mHeadOffset = 0; // bytes of the front frame already written
    size_t mBytes = 0; // bytes not yet written
};

class EmulatorLoop {
public:
    using EventSink = std::function<void(const std::string& line)>;

    EmulatorLoop(const EmulatorOptions& options, PseudoTerminal& terminal, EventSink events);

    // Runs until stopFd becomes readable; false after an unrecoverable terminal error.
    bool run(int stopFd);

    uint64_t droppedStates() const { return mDroppedStates; }

private:
    static double now();
    void onHostChange(PseudoTerminal::Change change);
    bool readTerminal();
    void queue(std::vector<uint8_t> frame, bool droppable);

    PseudoTerminal& mTerminal;
    EventSink mEvents;
    FaultInjector mFaults;
    FlightControllerSession mSession;
    PackageAssembler mAssembler;
    OutputQueue mOut;
    std::atomic<uint64_t> mDroppedStates{0}; // read by other threads for reports
};

} // namespace emu
