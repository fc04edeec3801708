#pragma once

#include "tools/replay/Recording.h"

#include "common/StateDatagram.h"

#include <QString>

#include <optional>
#include <vector>

namespace replay {

// The flight state a recorded line carries: a datagram decoded as the
// visualiser decodes it, a trace position as a state holding only the position.
std::optional<StateDatagram::State> recordedState(Recording& recording, int index);

// The flights of a recording as ranges of state indexes, by the flight rules
// (common/FlightRuns.h) with the given motor-stop time.
struct FlightRange {
    int first = 0;
    int last = 0; // inclusive
};
std::vector<FlightRange> flightRanges(Recording& recording, double endAfterMotorsStop = 3);

struct ExportOptions {
    int run = 0; // 1-based flight; 0: every state of the recording
    qint64 fromMs = -1; // from the first exported state's time; -1: no limit
    qint64 toMs = -1;
};

// A CSV table, one row per state: "time" in seconds since the first state of
// the run (or of the recording), strictly increasing (states of the same
// millisecond keep their order, a microsecond apart), every numeric datagram
// key (empty where a state lacks it), then the derived values (height, climb,
// speed, tilt, distance, roll, pitch, yaw). False with a message.
bool exportCsv(Recording& recording, const QString& path, const ExportOptions& options, QString& error,
               qint64* rows = nullptr);

} // namespace replay
