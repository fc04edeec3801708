#pragma once

#include "tools/check/CheckFile.h"
#include "tools/check/FlightJudge.h"

#include <QString>
#include <QVector>

// Judging the flights of a recording (udp.txt, or a trace.txt of positions).
namespace check {

struct RecordedFlight {
    double start = 0; // seconds since the recording's first state
    qint64 states = 0;
    double duration = 0;
    QVector<Verdict> verdicts;
};

struct RecordingJudgement {
    QVector<RecordedFlight> flights;
    QString skipped; // "3 lines skipped: ..." or empty
};

// Every flight of the recording judged on its own. False with a message when
// the file cannot be read or holds no state at all.
bool judgeRecording(const QString& path, const CheckSuite& suite, RecordingJudgement& out, QString& error);

// The flight to report: run (1-based) when given, else the longest (the first
// of equals); -1 when there is none or run is beyond the flights.
int chooseFlight(const QVector<RecordedFlight>& flights, int run);

} // namespace check
