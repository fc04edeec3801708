#pragma once

#include "tools/replay/RecordingLine.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <deque>
#include <functional>
#include <vector>

namespace replay {

// State times in milliseconds since the start of the recording, never decreasing.
class TimeTable {
public:
    virtual ~TimeTable() = default;
    virtual int count() const = 0;
    virtual qint64 timeMs(int index) const = 0;
    // Last state at or before ms (the first state when ms lies before it); -1 when empty.
    int indexAt(qint64 ms) const;
    // First state at or after ms; count() when there is none.
    int firstFrom(qint64 ms) const;
};

struct SkippedLine {
    qint64 lineNumber = 0;
    QString why;
};

struct FlightStats {
    qint64 states = 0;
    qint64 skipped = 0;
    qint64 durationMs = 0;
    double maxHeight = 0;
    double horizontalDistance = 0;
    double maxHorizontalSpeed = 0;
    QVector<int> productTypes; // in order of first appearance
    qint64 traceStates = 0; // of states, position-only lines
};

// The plot curves, thinned while reading to at most 2 × Target buckets of
// consecutive states, each with its lowest and highest value, so a recording
// of any length plots at once. Values that a float does not hold are left out
// (a bucket of only those has low = inf, high = -inf).
class PlotData {
public:
    enum Channel { Height, HorizontalSpeed, Roll, Pitch, Yaw, ChannelCount };
    static constexpr int Target = 1024;

    struct Bucket {
        qint64 timeMs = 0;
        float low[ChannelCount];
        float high[ChannelCount];
    };

    void add(qint64 timeMs, const double (&values)[ChannelCount]);
    const std::vector<Bucket>& buckets() const { return mBuckets; }

    bool hasAttitude = false; // some state carried roll, pitch and yaw (a trace.txt has none)

    // Where a run starts and ends (a new run counter, or no state for a while,
    // as the visualiser counts runs) and where the motors start and stop.
    struct Marker {
        enum Kind { RunStart, RunEnd, MotorsStart, MotorsStop };
        qint64 timeMs;
        Kind kind;
    };
    static constexpr int MaxMarkers = 200; // later ones are not kept
    std::vector<Marker> markers;
    void mark(qint64 timeMs, Marker::Kind kind);

    // The horizontal path seen from above, every n-th state, at most 2 × Target points.
    struct TrackPoint {
        qint64 timeMs;
        float x, y;
    };
    std::vector<TrackPoint> track;
    void addTrack(qint64 timeMs, double x, double y);

private:
    void merge(Bucket& into, const Bucket& from) const;

    std::vector<Bucket> mBuckets;
    qint64 mPerBucket = 1;
    qint64 mInLast = 0;
    qint64 mTrackStride = 1;
    qint64 mTrackSkipped = 0;
};

// A recording opened for replay: one pass builds an index of line offsets and
// times (16 bytes a state), the statistics and the plot curves; datagram text
// is read back from the file when it is sent.
class Recording : public TimeTable {
public:
    static constexpr int KeptSkipReasons = 5;

    // False with a message when the file cannot be read or holds no state, or
    // when stop, asked between reads, says so.
    bool open(const QString& path, QString& error, const std::function<bool()>& stop = {});

    int count() const override { return int(mEntries.size()); }
    qint64 timeMs(int index) const override { return mEntries[size_t(index)].timeMs; }
    qint64 durationMs() const { return mEntries.empty() ? 0 : mEntries.back().timeMs; }

    LineKind kind(int index) const;
    // The datagram or position text of a state as recorded; empty when its line is
    // no longer where it was read (the file changed: see changedText()).
    QByteArray payload(int index);
    // False once the file is seen changed: shorter than it was, or written to
    // without growing. Lines added at the end (a recorder still writing) are no change.
    bool unchanged();
    // "udp.txt changed while it played (it is shorter now)", or empty.
    QString changedText() const { return mChanged; }

    QString path() const { return mPath; }
    const FlightStats& stats() const { return mStats; }
    const PlotData& plots() const { return mPlots; }
    const QVector<SkippedLine>& firstSkipped() const { return mSkipped; }
    // "3 lines skipped: line 40: no time stamp, ..." or empty.
    QString skippedText() const;
    // "line 40: no time stamp, line 41: empty line" (the first few).
    QString skippedDetails() const;

    // The numeric keys of the first datagram states, sorted.
    QStringList numericKeys();
    // One key's values against time, thinned as the plot curves are (in the
    // Height channel); states without the key as a number are left out. Reads
    // the file once more.
    PlotData keyCurve(const QString& key);

private:
    struct Entry {
        quint64 packed; // offset << 17 | trace << 16 | length
        qint64 timeMs;
    };

    void addState(qint64 offset, const ParsedLine& line, qint64 timeMs);

    QString mPath;
    QFile mFile;
    qint64 mSeenSize = 0; // size and time of change last seen
    qint64 mSeenWrittenNs = 0;
    QString mChanged;
    std::vector<Entry> mEntries;
    QVector<SkippedLine> mSkipped;
    FlightStats mStats;
    PlotData mPlots;
    // Running values for speed and distance.
    bool mHavePrevious = false;
    StateValues mPrevious;
    qint64 mPreviousTimeMs = 0;
    double mTraceSpeed = 0;
    // Positions of a trace's last 100 ms and more: a speed from two stamps 1 ms
    // apart would be mostly the stamps' rounding.
    struct TracePoint {
        qint64 timeMs;
        double x, y;
    };
    std::deque<TracePoint> mTraceWindow;
    int mMotors = -1; // MotorStarted of the last state that said, -1 before
    // Yaw in degrees without the jumps between +180 and -180.
    double mYawDegrees = 0;
};

// A pause this long ends a run, as in the visualiser.
constexpr qint64 RunGapMs = 2500;

// Shortest speeds are derived over: the stamps have 1 ms steps.
constexpr qint64 SpeedWindowMs = 100;

// `degrees` moved by whole turns to lie within half a turn of `previous`.
double unwrapDegrees(double previous, double degrees);

} // namespace replay
