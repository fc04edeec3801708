#include "tools/replay/Recording.h"

#include "common/Angles.h"
#include "common/Json.h"

#include <QFileInfo>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace replay {
namespace {

constexpr double DegreesPerRadian = 180.0 / Pi;
constexpr qint64 ChunkSize = 1 << 20;
// States are counted in int.
constexpr qint64 MaxStates = INT_MAX;
// "[hh:mm:ss.mmm]\t" before the text of every state.
constexpr int StampLength = 15;

qint64 writtenAt(const struct stat& st) { return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec; }

} // namespace

int TimeTable::indexAt(qint64 ms) const
{
    int lo = 0, hi = count(); // first index with time > ms
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (timeMs(mid) <= ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return count() == 0 ? -1 : std::max(0, lo - 1);
}

int TimeTable::firstFrom(qint64 ms) const
{
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (timeMs(mid) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void PlotData::merge(Bucket& into, const Bucket& from) const
{
    for (int c = 0; c < ChannelCount; ++c) {
        into.low[c] = std::min(into.low[c], from.low[c]);
        into.high[c] = std::max(into.high[c], from.high[c]);
    }
}

void PlotData::mark(qint64 timeMs, Marker::Kind kind)
{
    if (markers.size() < size_t(MaxMarkers))
        markers.push_back({timeMs, kind});
}

void PlotData::addTrack(qint64 timeMs, double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y))
        return;
    if (!track.empty() && ++mTrackSkipped < mTrackStride)
        return;
    mTrackSkipped = 0;
    if (track.size() == size_t(2 * Target)) {
        for (size_t i = 0; i < size_t(Target); ++i)
            track[i] = track[2 * i];
        track.resize(Target);
        mTrackStride *= 2;
    }
    track.push_back({timeMs, float(x), float(y)});
}

void PlotData::add(qint64 timeMs, const double (&values)[ChannelCount])
{
    Bucket b;
    b.timeMs = timeMs;
    for (int c = 0; c < ChannelCount; ++c) {
        const float value = float(values[c]);
        // A value beyond a float is no point of the curve: the bucket stays empty
        // (low above high) for it and takes the extremes of the others.
        const bool shown = std::isfinite(value);
        b.low[c] = shown ? value : INFINITY;
        b.high[c] = shown ? value : -INFINITY;
    }
    if (!mBuckets.empty() && mInLast < mPerBucket) {
        merge(mBuckets.back(), b);
        ++mInLast;
        return;
    }
    if (mBuckets.size() == size_t(2 * Target)) {
        for (size_t i = 0; i < size_t(Target); ++i) {
            Bucket joined = mBuckets[2 * i];
            merge(joined, mBuckets[2 * i + 1]);
            mBuckets[i] = joined;
        }
        mBuckets.resize(Target);
        mPerBucket *= 2;
        // The last bucket is full now: the state opens a new one.
    }
    mBuckets.push_back(b);
    mInLast = 1;
}

LineKind Recording::kind(int index) const
{
    return (mEntries[size_t(index)].packed >> 16) & 1 ? LineKind::TracePosition : LineKind::Datagram;
}

QByteArray Recording::payload(int index)
{
    if (!mChanged.isEmpty())
        return QByteArray();
    const quint64 packed = mEntries[size_t(index)].packed;
    const qint64 offset = qint64(packed >> 17);
    const int length = int(packed & 0xFFFF);
    // The whole line: its stamp before the text and its end after it (unless the
    // file ends there) show that it is still the line that was read.
    const int size = StampLength + length + 1;
    QByteArray line(size, Qt::Uninitialized);
    ssize_t n = -1;
    do
        n = ::pread(mFile.handle(), line.data(), size_t(size), off_t(offset - StampLength));
    while (n < 0 && errno == EINTR);
    const bool ended =
        n == size ? line[size - 1] == '\n' || line[size - 1] == '\r' || line[size - 1] == '\0' : n == size - 1;
    if (!ended || parseStamp(line.constData(), StampLength - 1) < 0 || line[StampLength - 1] != '\t') {
        mChanged = QString("%1 changed while it played (state %2 is no longer where it was)").arg(mPath).arg(index + 1);
        return QByteArray();
    }
    return line.mid(StampLength, length);
}

bool Recording::unchanged()
{
    if (!mChanged.isEmpty())
        return false;
    struct stat st { };
    if (::fstat(mFile.handle(), &st) != 0)
        return true; // the lines themselves are still checked as they are read
    const qint64 writtenNs = writtenAt(st);
    if (st.st_size < mSeenSize)
        mChanged = QString("%1 changed while it played (it is shorter now)").arg(mPath);
    else if (writtenNs != mSeenWrittenNs && st.st_size == mSeenSize)
        mChanged = QString("%1 changed while it played (it was written to)").arg(mPath);
    mSeenSize = st.st_size;
    mSeenWrittenNs = writtenNs;
    return mChanged.isEmpty();
}

QString Recording::skippedDetails() const
{
    QStringList parts;
    for (const SkippedLine& s : mSkipped)
        parts << QString("line %1: %2").arg(s.lineNumber).arg(s.why);
    QString text = parts.join(", ");
    if (mStats.skipped > mSkipped.size())
        text += ", ...";
    return text;
}

QStringList Recording::numericKeys()
{
    QStringList keys;
    int looked = 0;
    for (int i = 0; i < count() && looked < 200; ++i) {
        if (kind(i) != LineKind::Datagram)
            continue;
        ++looked;
        bool ok = false;
        const QVariantMap map = Json::parse(QString::fromUtf8(payload(i)), ok).toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const int type = int(it.value().type());
            const bool number = type == QVariant::Double || type == QVariant::Int || type == QVariant::LongLong ||
                type == QVariant::UInt || type == QVariant::ULongLong;
            if (number && !keys.contains(it.key()))
                keys << it.key();
        }
    }
    keys.sort();
    return keys;
}

PlotData Recording::keyCurve(const QString& key)
{
    PlotData curve;
    const QByteArray quoted = '"' + key.toUtf8() + '"';
    for (int i = 0; i < count(); ++i) {
        if (kind(i) != LineKind::Datagram)
            continue;
        const QByteArray text = payload(i);
        int at = text.indexOf(quoted);
        if (at < 0)
            continue;
        at += quoted.size();
        while (at < text.size() && (text[at] == ' ' || text[at] == ':'))
            ++at;
        char* end = nullptr;
        const QByteArray rest = text.mid(at, 40);
        const double value = std::strtod(rest.constData(), &end);
        if (end == rest.constData() || !std::isfinite(value))
            continue;
        double values[PlotData::ChannelCount] = {};
        values[PlotData::Height] = value;
        curve.add(timeMs(i), values);
    }
    return curve;
}

QString Recording::skippedText() const
{
    if (mStats.skipped == 0)
        return QString();
    return QString("%1 line%2 skipped: %3")
        .arg(mStats.skipped)
        .arg(mStats.skipped == 1 ? "" : "s")
        .arg(skippedDetails());
}

double unwrapDegrees(double previous, double degrees)
{
    if (!std::isfinite(previous) || !std::isfinite(degrees))
        return degrees;
    return degrees + 360.0 * std::round((previous - degrees) / 360.0);
}

void Recording::addState(qint64 offset, const ParsedLine& line, qint64 timeMs)
{
    const bool trace = line.kind == LineKind::TracePosition;
    mEntries.push_back(
        {quint64(offset + line.payloadStart) << 17 | quint64(trace ? 1 : 0) << 16 | quint64(line.payloadLength),
         timeMs});
    const StateValues& v = line.values;
    ++mStats.states;
    if (trace)
        ++mStats.traceStates;
    else if (!mStats.productTypes.contains(v.productType))
        mStats.productTypes.append(v.productType);

    double speed = std::hypot(v.velocityX, v.velocityY);
    // A new run counter starts a new flight from its own origin.
    const bool sameRun = mHavePrevious && v.simulatorCommand == mPrevious.simulatorCommand;
    const bool runStarts = !mHavePrevious || !sameRun || timeMs - mPreviousTimeMs >= RunGapMs;
    if (runStarts) {
        if (mHavePrevious)
            mPlots.mark(mPreviousTimeMs, PlotData::Marker::RunEnd);
        mPlots.mark(timeMs, PlotData::Marker::RunStart);
    }
    if (v.motorStarted >= 0 && v.motorStarted != mMotors) {
        // A run that starts with the motors off has nothing to mark.
        if (mMotors >= 0 || v.motorStarted == 1)
            mPlots.mark(timeMs, v.motorStarted ? PlotData::Marker::MotorsStart : PlotData::Marker::MotorsStop);
        mMotors = v.motorStarted;
    }
    if (sameRun) {
        const double step = std::hypot(v.worldX - mPrevious.worldX, v.worldY - mPrevious.worldY);
        if (std::isfinite(step))
            mStats.horizontalDistance += step;
    }
    if (trace) {
        if (!sameRun)
            mTraceWindow.clear();
        if (std::isfinite(v.worldX) && std::isfinite(v.worldY))
            mTraceWindow.push_back({timeMs, v.worldX, v.worldY});
        // Keep the newest point that lies at least the window back.
        while (mTraceWindow.size() > 2 && timeMs - mTraceWindow[1].timeMs >= SpeedWindowMs)
            mTraceWindow.pop_front();
        const TracePoint& from = mTraceWindow.front();
        const TracePoint& to = mTraceWindow.back();
        if (to.timeMs - from.timeMs >= SpeedWindowMs)
            mTraceSpeed = std::hypot(to.x - from.x, to.y - from.y) * 1000.0 / double(to.timeMs - from.timeMs);
        else if (!sameRun)
            mTraceSpeed = 0;
        speed = mTraceSpeed;
    }
    if (!std::isfinite(speed))
        speed = 0;
    if (mStats.states == 1 || v.worldZ > mStats.maxHeight)
        mStats.maxHeight = v.worldZ;
    mStats.maxHorizontalSpeed = std::max(mStats.maxHorizontalSpeed, speed);
    if (!trace) {
        const double yaw = v.yaw * DegreesPerRadian;
        mYawDegrees = mPlots.hasAttitude && std::isfinite(yaw) ? unwrapDegrees(mYawDegrees, yaw) : yaw;
        mPlots.hasAttitude = true;
    }
    const double values[PlotData::ChannelCount] = {v.worldZ, speed, v.roll * DegreesPerRadian,
                                                   v.pitch * DegreesPerRadian, trace ? 0.0 : mYawDegrees};
    mPlots.add(timeMs, values);
    mPlots.addTrack(timeMs, v.worldX, v.worldY);
    mPrevious = v;
    mPreviousTimeMs = timeMs;
    mHavePrevious = true;
}

bool Recording::open(const QString& path, QString& error, const std::function<bool()>& stop)
{
    mPath = path;
    mFile.setFileName(path);
    const QFileInfo info(path);
    // Offsets must stay valid: a device or a pipe could also run on for ever.
    if (info.exists() && !info.isFile()) {
        error = QString("cannot open %1: %2").arg(path, info.isDir() ? "is a folder" : "not a regular file");
        return false;
    }
    if (!mFile.open(QIODevice::ReadOnly)) {
        error = QString("cannot open %1: %2").arg(path, mFile.errorString());
        return false;
    }
    const int fd = mFile.handle();
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        error = QString("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    mSeenSize = st.st_size;
    mSeenWrittenNs = writtenAt(st);
    // Bytes the file really holds: a sparse file may be far longer than its lines.
    const qint64 heldBytes = std::min<qint64>(st.st_size, qint64(st.st_blocks) * 512);
    std::vector<char> chunk(static_cast<size_t>(ChunkSize));
    QByteArray carry; // start of a line that continues in the next chunk
    bool overlong = false; // the current line is beyond any datagram; its text is dropped
    qint64 lineStart = 0; // file offset of the current line
    qint64 lineNumber = 0;
    qint64 previousStamp = -1;
    qint64 timeMs = 0;
    qint64 firstStamp = -1;
    bool reserved = false;
    bool outOfMemory = false;

    auto skip = [&](const char* why) {
        ++mStats.skipped;
        if (mSkipped.size() < KeptSkipReasons)
            mSkipped.append({lineNumber, QString::fromLatin1(why)});
    };
    auto finishLine = [&](const char* text, int length) {
        ++lineNumber;
        if (overlong) {
            skip("datagram longer than UDP carries");
            return;
        }
        const ParsedLine line = parseLine(text, length);
        if (!line.ok) {
            skip(line.why);
            return;
        }
        if (firstStamp < 0)
            firstStamp = previousStamp = line.timeOfDayMs;
        timeMs += stampGap(previousStamp, line.timeOfDayMs);
        previousStamp = line.timeOfDayMs;
        if (mEntries.size() >= size_t(MaxStates)) {
            outOfMemory = true;
            return;
        }
        try {
            addState(lineStart, line, timeMs);
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
    };

    qint64 pos = 0;
    while (!outOfMemory) {
        if (stop && stop()) {
            error = QString("opening %1 stopped").arg(path);
            mEntries = std::vector<Entry>();
            return false;
        }
        // A hole reads as NULs and holds no line end: when it makes the current
        // line longer than any datagram, that line is skipped without reading it.
        off_t dataStart = ::lseek(fd, off_t(pos), SEEK_DATA);
        if (dataStart < 0 && errno == ENXIO)
            dataStart = off_t(st.st_size); // a hole up to the end
        if (dataStart > pos && (overlong || carry.size() + (dataStart - pos) > MaxPayload + 64)) {
            overlong = true;
            carry.clear();
            pos = dataStart;
        }
        const ssize_t n = ::pread(fd, chunk.data(), size_t(ChunkSize), off_t(pos));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = QString("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        if (n == 0)
            break;
        const qint64 chunkOffset = pos;
        const int size = int(n);
        pos += n;
        const char* bytes = chunk.data();
        int from = 0;
        while (from < size) {
            const void* nl = std::memchr(bytes + from, '\n', size_t(size - from));
            const int to = nl ? int(static_cast<const char*>(nl) - bytes) : size;
            if (!nl) {
                if (!overlong) {
                    carry.append(bytes + from, to - from);
                    if (carry.size() > MaxPayload + 64) {
                        overlong = true;
                        carry.clear();
                    }
                }
                break;
            }
            if (carry.isEmpty() && !overlong) {
                finishLine(bytes + from, to - from);
            } else {
                if (!overlong)
                    carry.append(bytes + from, to - from);
                if (carry.size() > MaxPayload + 64)
                    overlong = true;
                finishLine(carry.constData(), carry.size());
                carry.clear();
            }
            overlong = false;
            from = to + 1;
            lineStart = chunkOffset + from;
        }
        if (!reserved && mEntries.size() > 1000 && lineStart > 0) {
            reserved = true;
            // Room for the whole file at the line length seen so far, so the index
            // is not copied while it grows; when that much is not to be had, it grows.
            const double guess = double(heldBytes) / double(lineStart) * double(mEntries.size()) * 1.02 + 16;
            try {
                mEntries.reserve(size_t(std::min(guess, double(MaxStates))));
            } catch (const std::bad_alloc&) {
            } catch (const std::length_error&) {
            }
        }
    }
    if (!outOfMemory && (!carry.isEmpty() || overlong))
        finishLine(carry.constData(), carry.size());
    if (outOfMemory) {
        error = mEntries.size() >= size_t(MaxStates)
            ? QString("%1 holds more states than one replay takes (%2)").arg(path).arg(MaxStates)
            : QString("not enough memory to index %1 (%2 states read)").arg(path).arg(mEntries.size());
        mEntries = std::vector<Entry>();
        return false;
    }
    // Shrinking copies the index: only worth it when much of it is spare.
    if (mEntries.capacity() > mEntries.size() + mEntries.size() / 4) {
        try {
            mEntries.shrink_to_fit();
        } catch (const std::bad_alloc&) {
        }
    }
    mStats.durationMs = durationMs();
    if (mHavePrevious)
        mPlots.mark(mPreviousTimeMs, PlotData::Marker::RunEnd);
    if (mEntries.empty()) {
        error = QString("%1 holds no state").arg(path);
        if (mStats.skipped > 0)
            error += " (" + skippedText() + ")";
        return false;
    }
    return true;
}

} // namespace replay
