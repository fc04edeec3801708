#include "tools/flight-emulator/PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace emu {

namespace {

std::string systemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string readLink(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n >= 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// The kernel cuts a process name to 15 characters.
constexpr char kEmulatorName[] = "QuvorFlightEmul";

} // namespace

pid_t PseudoTerminal::emulatorHolding(const std::string& terminal)
{
    if (terminal.rfind("/dev/pts/", 0) != 0)
        return 0;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == getpid())
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(dir + "/comm"), name);
        if (name != kEmulatorName)
            continue;
        // Every emulator keeps a descriptor of its host end open.
        if (DIR* fds = opendir((dir + "/fd").c_str())) {
            while (dirent* fd = readdir(fds))
                if (fd->d_name[0] != '.' && readLink(dir + "/fd/" + fd->d_name) == terminal)
                    found = pid_t(pid);
            closedir(fds);
        }
        if (found)
            break;
    }
    closedir(proc);
    return found;
}

PseudoTerminal::~PseudoTerminal() { close(); }

bool PseudoTerminal::open(std::string& error)
{
    close();
    mMaster = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mMaster < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(mMaster) != 0 || unlockpt(mMaster) != 0 || ptsname_r(mMaster, name, sizeof name) != 0) {
        error = systemError("pseudo-terminal set-up");
        close();
        return false;
    }
    mHostPath = name;

    // Raw from the start, so nothing is echoed or translated before the host
    // configures the line itself.
    termios tio{};
    if (tcgetattr(mMaster, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(mMaster, TCSANOW, &tio);
    }

    // Opened before the watch exists, so our own open is not counted as a host.
    mKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (mKeeper < 0) {
        error = systemError(name);
        close();
        return false;
    }
    mWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (mWatch < 0 || inotify_add_watch(mWatch, name, IN_OPEN | IN_CLOSE) < 0) {
        error = systemError("inotify");
        close();
        return false;
    }
    mHostOpens = 0;
    return true;
}

void PseudoTerminal::close()
{
    removeLink();
    for (int* fd : {&mWatch, &mKeeper, &mMaster}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    mHostOpens = 0;
}

PseudoTerminal::Change PseudoTerminal::readWatch()
{
    const bool before = hostConnected();
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(mWatch, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
            if (ev->mask & IN_OPEN)
                ++mHostOpens;
            if (ev->mask & IN_CLOSE)
                mHostOpens = mHostOpens > 0 ? mHostOpens - 1 : 0;
            off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
        }
    }
    const bool after = hostConnected();
    if (before == after)
        return Change::None;
    return after ? Change::Connected : Change::Disconnected;
}

void PseudoTerminal::discardPending()
{
    if (mKeeper < 0)
        return;
    tcflush(mKeeper, TCIOFLUSH);
    ioctl(mKeeper, TIOCNXCL);
}

bool PseudoTerminal::makeLink(const std::string& path, std::string& error)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = path + " exists and is not a symbolic link; not replacing it";
        return false;
    }
    // A link to a terminal that another emulator still serves belongs to that
    // emulator: taking it over would leave its host on a link that goes away
    // with this one.
    const std::string current = readLink(path);
    if (const pid_t other = current.empty() ? 0 : emulatorHolding(current)) {
        error = path + " is the link of another emulator (pid " + std::to_string(other) + ", " + current +
            ") that is still running; stop it or choose another --link";
        return false;
    }
    // Build the link beside its place and rename it over, so a host never sees
    // the path missing or half made.
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(mHostPath.c_str(), temp.c_str()) != 0) {
        error = systemError(("symlink " + path).c_str());
        return false;
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        error = systemError(("rename to " + path).c_str());
        unlink(temp.c_str());
        return false;
    }
    mLinkPath = path;
    return true;
}

void PseudoTerminal::removeLink()
{
    if (mLinkPath.empty())
        return;
    char target[PATH_MAX];
    const ssize_t n = readlink(mLinkPath.c_str(), target, sizeof target - 1);
    // Another emulator may have taken the path over since; its link stays.
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == mHostPath)
        unlink(mLinkPath.c_str());
    mLinkPath.clear();
}

} // namespace emu
