#include "Recording.h"

#include "common/Angles.h"
#include "common/Json.h"

#include <QFileInfo>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace replay {
namespace {

constexpr double DegreesPerRadian = 180.0 / Pi;
constexpr qint64 ChunkSize = 1 << 20;

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
    for (int c = 0; c < ChannelCount; ++c)
        b.low[c] = b.high[c] = float(values[c]);
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
    const quint64 packed = mEntries[size_t(index)].packed;
    const qint64 offset = qint64(packed >> 17);
    const int length = int(packed & 0xFFFF);
    if (!mFile.seek(offset))
        return QByteArray();
    QByteArray text = mFile.read(length);
    return text.size() == length ? text : QByteArray();
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

bool Recording::open(const QString& path, QString& error)
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
    const qint64 fileSize = mFile.size();
    QByteArray chunk;
    QByteArray carry; // start of a line that continues in the next chunk
    bool overlong = false; // the current line is beyond any datagram; its text is dropped
    qint64 lineStart = 0; // file offset of the current line
    qint64 lineNumber = 0;
    qint64 previousStamp = -1;
    qint64 timeMs = 0;
    qint64 firstStamp = -1;
    bool reserved = false;

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
        addState(lineStart, line, timeMs);
    };

    for (;;) {
        chunk = mFile.read(ChunkSize);
        if (chunk.isEmpty())
            break;
        const qint64 chunkOffset = mFile.pos() - chunk.size();
        const char* data = chunk.constData();
        int from = 0;
        while (from < chunk.size()) {
            const void* nl = std::memchr(data + from, '\n', size_t(chunk.size() - from));
            const int to = nl ? int(static_cast<const char*>(nl) - data) : chunk.size();
            if (!nl) {
                if (!overlong) {
                    carry.append(data + from, to - from);
                    if (carry.size() > MaxPayload + 64) {
                        overlong = true;
                        carry.clear();
                    }
                }
                break;
            }
            if (carry.isEmpty() && !overlong) {
                finishLine(data + from, to - from);
            } else {
                if (!overlong)
                    carry.append(data + from, to - from);
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
            // is not copied while it grows.
            mEntries.reserve(size_t(double(fileSize) / double(lineStart) * double(mEntries.size()) * 1.02) + 16);
        }
    }
    if (mFile.error() != QFileDevice::NoError) {
        error = QString("cannot read %1: %2").arg(path, mFile.errorString());
        return false;
    }
    if (!carry.isEmpty() || overlong)
        finishLine(carry.constData(), carry.size());
    // Shrinking copies the index: only worth it when much of it is spare.
    if (mEntries.capacity() > mEntries.size() + mEntries.size() / 4)
        mEntries.shrink_to_fit();
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
