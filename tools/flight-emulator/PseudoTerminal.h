#pragma once
// The emulator's end of a pseudo-terminal pair, raw, non-blocking, with a
// watch that tells when a host opens or closes the other end.
//
// The emulator keeps a descriptor of the host's end open itself: a host that
// sets exclusive mode would otherwise leave the terminal unopenable for the next
// host, and stale bytes could not be flushed. Host presence is therefore not
// seen as a hang-up on our end but counted from inotify open/close events.

#include <string>
#include <sys/types.h>

namespace emu {

class PseudoTerminal {
public:
    enum class Change { None, Connected, Disconnected };

    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool open(std::string& error);
    void close();

    // Path of the host's end, e.g. /dev/pts/4.
    const std::string& hostPath() const { return mHostPath; }
    int fd() const { return mMaster; }
    int watchFd() const { return mWatch; }

    // Consumes the pending open/close events; reports a change of host presence.
    Change readWatch();
    bool hostConnected() const { return mHostOpens > 0; }
    // Drops bytes still queued in either direction and lifts a host's exclusive mode.
    void discardPending();

    // Keeps a symbolic link at `path` to the host's end. An existing symbolic link
    // is replaced unless it leads to a terminal another emulator still serves;
    // any other file is left alone and reported.
    bool makeLink(const std::string& path, std::string& error);
    // Removes the link if it still points to this terminal.
    void removeLink();

    // The pid of another running emulator that serves this terminal (its
    // /dev/pts path), or 0.
    static pid_t emulatorHolding(const std::string& terminal);

private:
    int mMaster = -1;
    int mKeeper = -1;
    int mWatch = -1;
    int mHostOpens = 0;
    std::string mHostPath;
    std::string mLinkPath;
};

} // namespace emu
