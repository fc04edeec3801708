#pragma once

#include "common/FlightRuns.h"
#include "common/FlightValues.h"

#include <QString>
#include <QVector>

#include <optional>

// A check file: the envelope a flight must stay in, written by hand in TOML.
//
//   name = "square mission"
//   [run]
//   min_duration = 30
//   [[check]]
//   name = "never above 15 m"
//   value = "height"
//   max = 15
namespace check {

// The values and the flight rules are shared with the replay tool.
using namespace flight;

enum class Mode {
    Always, // every state of the window inside the limits
    Eventually, // inside without a break for at least "for" seconds somewhere in the window
    AtStart, // the flight's first state
    AtEnd, // the flight's last state
};

struct Check {
    QString name;
    int line = 0; // of its [[check]] header
    ValueRef value;
    std::optional<double> min;
    std::optional<double> max;
    Mode mode = Mode::Always;
    double forSeconds = 0;
    std::optional<double> from; // seconds since the flight's first state
    std::optional<double> to;
};

struct RunLimits {
    double endAfterMotorsStop = 3; // 0: the motors do not end a flight
    std::optional<double> minDuration;
    std::optional<double> maxDuration;
    std::optional<double> minRate; // states per second
    std::optional<double> maxGap; // seconds between two states
};

struct CheckSuite {
    QString name;
    QString path;
    std::optional<int> product; // ProductType every state must carry
    QString productName;
    RunLimits run;
    QVector<Check> checks;
};

// False with "PATH:LINE: message" when the file cannot be read, does not parse,
// or names a key, a value or a limit that makes no sense.
bool readCheckFile(const QString& path, CheckSuite& suite, QString& error);
// The same for text already read; path only names it in messages.
bool parseCheckText(const QByteArray& text, const QString& path, CheckSuite& suite, QString& error);

} // namespace check
