#include "tools/replay/ReplayExport.h"

#include "tools/replay/PlaybackDatagram.h"

#include "common/FlightRuns.h"
#include "common/FlightValues.h"

#include <QSaveFile>

#include <cmath>

namespace replay {
namespace {

using StateDatagram::Key;

class RangeSink : public flight::FlightSink {
public:
    explicit RangeSink(std::vector<FlightRange>& ranges) : mRanges(ranges) { }
    void flightStarted(double, const StateDatagram::State&) override { mRanges.push_back({index, index}); }
    void flightState(double, const StateDatagram::State&) override { mRanges.back().last = index; }
    void flightEnded() override { }
    int index = 0;

private:
    std::vector<FlightRange>& mRanges;
};

void appendNumber(QByteArray& line, double value, int digits)
{
    if (std::isnan(value))
        line += "nan";
    else if (std::isinf(value))
        line += value > 0 ? "inf" : "-inf";
    else
        line += QByteArray::number(value, 'g', digits);
}

bool isDouble(Key key) { return key == Key::WorldLatitude || key == Key::WorldLongitude; }

} // namespace

std::optional<StateDatagram::State> recordedState(Recording& recording, int index)
{
    QByteArray text = recording.payload(index);
    const LineKind kind = recording.kind(index);
    if (kind == LineKind::TracePosition)
        text = playbackDatagram(text, kind, recording.timeMs(index), false);
    return StateDatagram::decode(text);
}

std::vector<FlightRange> flightRanges(Recording& recording, double endAfterMotorsStop)
{
    std::vector<FlightRange> ranges;
    RangeSink sink(ranges);
    flight::FlightRuns runs(sink, endAfterMotorsStop);
    for (int i = 0; i < recording.count(); ++i) {
        sink.index = i;
        if (const auto state = recordedState(recording, i))
            runs.add(double(recording.timeMs(i)) / 1000.0, *state);
    }
    runs.finish();
    return ranges;
}

bool exportCsv(Recording& recording, const QString& path, const ExportOptions& o, QString& error, qint64* rows)
{
    FlightRange range{0, recording.count() - 1};
    if (o.run > 0) {
        const std::vector<FlightRange> flights = flightRanges(recording);
        if (o.run > int(flights.size())) {
            error = QString("--run %1: the recording holds %2 run%3")
                        .arg(o.run)
                        .arg(flights.size())
                        .arg(flights.size() == 1 ? "" : "s");
            return false;
        }
        range = flights[size_t(o.run - 1)];
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line = "time";
    for (Key key : flight::numericKeys())
        line += ',' + StateDatagram::keyName(key).toLatin1();
    for (flight::Derived d : flight::derivedValues())
        line += ',' + flight::derivedName(d).toLatin1();
    line += '\n';
    file.write(line);

    const qint64 originMs = recording.count() ? recording.timeMs(range.first) : 0;
    flight::Origin origin;
    qint64 previousUs = -1;
    qint64 written = 0;
    for (int i = range.first; i <= range.last && i < recording.count(); ++i) {
        const auto state = recordedState(recording, i);
        if (!state)
            continue;
        if (!origin.set && state->finite) {
            origin.set = true;
            origin.x = state->worldX;
            origin.y = state->worldY;
        }
        const qint64 ms = recording.timeMs(i) - originMs;
        if (o.fromMs >= 0 && ms < o.fromMs)
            continue;
        if (o.toMs >= 0 && ms > o.toMs)
            break;
        const qint64 us = std::max(ms * 1000, previousUs + 1);
        previousUs = us;
        line = QByteArray::number(double(us) / 1e6, 'f', 6);
        for (Key key : flight::numericKeys()) {
            line += ',';
            if (state->has(key))
                appendNumber(line, flight::keyValue(*state, key), isDouble(key) ? 12 : 7);
        }
        for (flight::Derived d : flight::derivedValues()) {
            line += ',';
            appendNumber(line, flight::derivedValue(d, *state, origin), 7);
        }
        line += '\n';
        file.write(line);
        ++written;
    }
    if (!file.commit()) {
        error = QString("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (rows)
        *rows = written;
    return true;
}

} // namespace replay
