#include "app/Recorder.h"

#include "common/Folders.h"
#include "common/RecordingFormat.h"

#include <QFile>

namespace {

// One level only: a missing parent is not created. A failure costs the lines
// that go there; it is said once per attempt, naming the folder.
void makeFolder(const QString& path)
{
    if (path.isEmpty() || Folders::makeOne(path))
        return;
    qWarning("Cannot create the recording folder %s; its lines are not written.", qPrintable(path));
}

} // namespace

Recorder::Recorder(Clock clock) : mClock(std::move(clock)) { }

QString Recorder::datedFile(const QString& dir, const char* name) const
{
    return dir + "/" + Folders::datedName(mClock()) + "//" + name;
}

void Recorder::refresh(const QString& traceDir, const QString& udpDir, bool clearToggle,
                       const std::function<void()>& clearDrawn)
{
    if (traceDir != mTraceDirSeen) {
        makeFolder(traceDir);
        mTraceDirSeen = traceDir;
        mTraceFilePath = datedFile(traceDir, "trace.txt");
    }
    if (udpDir != mUdpDirSeen) {
        makeFolder(udpDir);
        mUdpDirSeen = udpDir;
        mUdpFilePath = datedFile(udpDir, "udp.txt");
    }
    if (clearToggle != mClearSeen) {
        if (clearDrawn)
            clearDrawn();
        // Truncate only; a log whose folder does not exist yet stays absent.
        QFile file(mTraceFilePath);
        if (!mTraceFilePath.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Text))
            file.close();
        mClearSeen = clearToggle;
    }
}

QByteArray Recorder::timestamp() const { return RecordingFormat::stamp(mClock().time()); }

void Recorder::append(const QString& path, QString& made, const QByteArray& line)
{
    if (path != made) {
        makeFolder(path.left(path.lastIndexOf('/') + 1));
        made = path;
    }
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(line);
}

void Recorder::writeTrace(double x, double y, double z)
{
    const QByteArray line = timestamp() + QString::asprintf("x:%.6f,y:%.6f,z:%.6f\n", x, y, z).toLatin1();
    append(mTraceFilePath, mTraceFileMade, line);
}

void Recorder::writeDatagram(const QByteArray& datagram)
{
    append(mUdpFilePath, mUdpFileMade, RecordingFormat::datagramLine(mClock().time(), datagram));
}
