#include "viewer/app/Recorder.h"
#include "common/Console.h"

#include "common/Folders.h"
#include "common/RecordingFormat.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// One level only: a missing parent is not created. A failure costs the lines
// that go there; it is said once per attempt, naming the folder.
void makeFolder(const QString& path)
{
    if (path.isEmpty() || Folders::makeOne(path))
        return;
    Console::warning(QStringLiteral("Cannot create the recording folder %1; its lines are not written.").arg(path));
}

QString folderOf(const QString& path) { return path.left(path.lastIndexOf('/') + 1); }

QString errorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The dated folder of a log and, when that went away too, the log folder above
// it; never the save path the user chose.
bool makeRecordingFolder(const QString& dir, int& error)
{
    if (Folders::makeOne(dir, &error))
        return true;
    if (error != ENOENT)
        return false;
    QString trimmed = dir;
    while (trimmed.endsWith('/'))
        trimmed.chop(1);
    const QString parent = trimmed.left(trimmed.lastIndexOf('/') + 1);
    return !parent.isEmpty() && Folders::makeOne(parent, &error) && Folders::makeOne(dir, &error);
}

// One write for the record (more only when the system takes part of it).
bool writeAll(int fd, const QByteArray& bytes, int& error, size_t& done)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    done = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        done += size_t(n);
        left -= size_t(n);
    }
    return true;
}

int openLog(const QByteArray& path)
{
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

// The open log was removed (alone or with its folder) or replaced: records
// written to it would reach no file anyone can read.
bool unlinked(int fd)
{
    struct stat info = {};
    return ::fstat(fd, &info) == 0 && info.st_nlink == 0;
}

} // namespace

Recorder::Recorder(Clock clock) : mClock(std::move(clock)) { }

Recorder::~Recorder() { closeFiles(); }

void Recorder::closeLog(const QString& path, Log& log)
{
    if (log.fd >= 0)
        ::close(log.fd);
    log.fd = -1;
    endLosses(path, log.losses);
}

void Recorder::closeTaggedTraces()
{
    for (auto& tagged : mTagged)
        closeLog(tagged.second.path, tagged.second.log);
}

void Recorder::closeFiles()
{
    closeLog(mTraceFilePath, mTrace);
    closeLog(mUdpFilePath, mUdp);
    closeTaggedTraces();
}

void Recorder::closeTrace(const QString& tag)
{
    if (tag.isEmpty()) {
        closeLog(mTraceFilePath, mTrace);
        return;
    }
    const auto it = mTagged.find(tag);
    if (it != mTagged.end()) {
        closeLog(it->second.path, it->second.log);
        mTagged.erase(it);
    }
}

void Recorder::closeDatagrams() { closeLog(mUdpFilePath, mUdp); }

void Recorder::closeUnused(bool traceOn, bool udpOn)
{
    if (!traceOn) {
        closeLog(mTraceFilePath, mTrace);
        closeTaggedTraces();
    }
    if (!udpOn)
        closeLog(mUdpFilePath, mUdp);
}

QString Recorder::datedFile(const QString& dir, const char* name) const
{
    return dir + "/" + Folders::datedName(mClock()) + "//" + name;
}

void Recorder::refresh(const QString& traceDir, const QString& udpDir, bool clearToggle,
                       const std::function<void()>& clearDrawn)
{
    if (traceDir != mTraceDirSeen) {
        closeLog(mTraceFilePath, mTrace);
        closeTaggedTraces();
        mTagged.clear();
        makeFolder(traceDir);
        mTraceDirSeen = traceDir;
        mTraceFilePath = datedFile(traceDir, "trace.txt");
    }
    if (udpDir != mUdpDirSeen) {
        closeLog(mUdpFilePath, mUdp);
        makeFolder(udpDir);
        mUdpDirSeen = udpDir;
        mUdpFilePath = datedFile(udpDir, "udp.txt");
    }
    if (clearToggle != mClearSeen) {
        if (clearDrawn)
            clearDrawn();
        // Truncate only; a log whose folder does not exist yet stays absent.
        QStringList traces{mTraceFilePath};
        for (const auto& tagged : mTagged)
            traces.append(tagged.second.path);
        for (const QString& path : traces) {
            QFile file(path);
            if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Text))
                file.close();
        }
        mClearSeen = clearToggle;
    }
}

QByteArray Recorder::timestamp() const { return RecordingFormat::stamp(mClock().time()); }

bool Recorder::writeRecord(const QString& path, bool firstRecord, int& fd, const QByteArray& line, QString& reason,
                           bool& folderMissing)
{
    if (fd >= 0 && unlinked(fd)) {
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        const QByteArray local = path.toLocal8Bit();
        fd = openLog(local);
        if (fd < 0 && errno == ENOENT) {
            // The first record makes the dated folder; a later one makes it
            // again when it was removed under the running program.
            const QString dir = folderOf(path);
            int error = 0;
            if (!makeRecordingFolder(dir, error)) {
                reason = errorText(error);
                folderMissing = true;
                return false;
            }
            if (!firstRecord)
                Console::warning(QStringLiteral("The recording folder %1 had gone; it was made again.").arg(dir));
            fd = openLog(local);
        }
        if (fd < 0) {
            reason = errorText(errno);
            return false;
        }
    }
    int error = 0;
    size_t done = 0;
    if (writeAll(fd, line, error, done))
        return true;
    reason = errorText(error);
    // Cut back to the last whole record, so that a reader never sees half a
    // line; only a regular file keeps what was written.
    struct stat info = {};
    if (done > 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= off_t(done) &&
        ::ftruncate(fd, info.st_size - off_t(done)) != 0)
        reason += QStringLiteral(", and the part written could not be cut off (%1)").arg(errorText(errno));
    return false;
}

void Recorder::endLosses(const QString& path, Losses& losses)
{
    if (losses.failing && losses.lost > 0)
        Console::warning(QStringLiteral("The recording %1 lost %2 record%3 (%4).")
                             .arg(path, QString::number(losses.lost), losses.lost == 1 ? "" : "s", losses.reason));
    losses = Losses();
}

void Recorder::append(const QString& path, QString& made, Log& log, const QByteArray& line)
{
    if (path.isEmpty())
        return;
    const bool firstRecord = path != made;
    made = path;
    QString reason;
    bool folderMissing = false;
    Losses& losses = log.losses;
    if (writeRecord(path, firstRecord, log.fd, line, reason, folderMissing)) {
        endLosses(path, losses);
        return;
    }
    ++losses.lost;
    if (losses.failing)
        return;
    losses.failing = true;
    losses.reason = reason;
    if (folderMissing)
        Console::warning(
            QStringLiteral("Cannot create the recording folder %1; its lines are not written.").arg(folderOf(path)));
    else
        Console::warning(
            QStringLiteral("Cannot write the recording %1: %2; its records are lost until it can be written again.")
                .arg(path, reason));
}

void Recorder::writeTrace(double x, double y, double z, const QString& tag)
{
    const QByteArray line = timestamp() + QString::asprintf("x:%.6f,y:%.6f,z:%.6f\n", x, y, z).toLatin1();
    if (tag.isEmpty()) {
        append(mTraceFilePath, mTraceFileMade, mTrace, line);
        return;
    }
    if (mTraceFilePath.isEmpty())
        return;
    TaggedLog& tagged = mTagged[tag];
    if (tagged.path.isEmpty())
        tagged.path = folderOf(mTraceFilePath) + "trace_" + tag + ".txt";
    append(tagged.path, tagged.made, tagged.log, line);
}

void Recorder::writeDatagram(const QByteArray& datagram)
{
    append(mUdpFilePath, mUdpFileMade, mUdp, RecordingFormat::datagramLine(mClock().time(), datagram));
}
