#pragma once

// Flights made in the tests: states as functions of time, judged directly or
// written as a recording.
#include "tools/check/CheckFile.h"
#include "tools/check/FlightJudge.h"

#include "common/RecordingFormat.h"
#include "common/StateDatagram.h"
#include "tests/tools/replay/ReplayTestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTime>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace check_test {

using StateDatagram::State;

// A state in flight: motors on, run 1, a sender address (not a zero state).
inline State flyingState()
{
    State s;
    s.motorStarted = 1;
    s.productType = 2;
    s.simulatorCommand = 1;
    s.senderIp = "192.168.0.10";
    return s;
}

// States every 1/rate seconds from 0 to duration, shaped by make(t).
inline std::vector<std::pair<double, State>> flightOf(double duration, double rate,
                                                      const std::function<State(double)>& make)
{
    std::vector<std::pair<double, State>> states;
    const int n = int(duration * rate + 0.5);
    for (int i = 0; i <= n; ++i) {
        const double t = i / rate;
        states.push_back({t, make(t)});
    }
    return states;
}

inline check::CheckSuite suiteOf(const std::string& toml)
{
    check::CheckSuite suite;
    QString error;
    if (!check::parseCheckText(QByteArray::fromStdString(toml), "test.toml", suite, error))
        ADD_FAILURE() << error.toStdString() << "\n" << toml;
    return suite;
}

// udp.txt text: one line per state at its time after 10:00:00.
inline QByteArray recordingOf(const std::vector<std::pair<double, State>>& states)
{
    QByteArray text;
    for (const auto& [t, s] : states)
        text += RecordingFormat::datagramLine(QTime(10, 0).addMSecs(int(t * 1000 + 0.5)), StateDatagram::encode(s));
    return text;
}

// Files the test writes, in a folder of its own.
using Files = replay_test::RecordingFiles;

} // namespace check_test
