#pragma once

#include "tools/check/CheckFile.h"

#include <QString>
#include <QVector>

#include <vector>

// Judging one flight against a check file, state by state, as the states come:
// the same code for a recording and for a live flight. Nothing here knows a
// clock or a socket; the caller hands in each state with its time.
namespace check {

struct Verdict {
    QString name;
    bool passed = false;
    double time = 0; // seconds since the flight's first state at which it was decided
    // One line of evidence: where it failed (time, value, limit) or why it passed.
    QString evidence;
    // The same as data: "time", "value", "limit", "from", "to", ... (JSON report).
    QVector<QPair<QString, double>> numbers;
};

class FlightJudge {
public:
    explicit FlightJudge(const CheckSuite& suite);

    // One state of the flight; time in seconds on any scale that never goes back.
    void add(double time, const StateDatagram::State& state);

    // The verdicts on the states seen so far: the product, the run limits, then
    // the checks in file order. A flight without states fails every one.
    QVector<Verdict> verdicts() const;

    qint64 states() const { return mStates; }
    double duration() const { return mStates ? mLast - mFirst : 0; }

private:
    struct Extreme {
        double value = 0;
        double time = 0;
    };
    struct Tracker {
        const Check* check = nullptr;
        qint64 inWindow = 0;
        // Always: the first state outside the limits.
        bool failed = false;
        double failTime = 0;
        double failValue = 0;
        bool failNotFinite = false;
        bool failAboveMax = false;
        Extreme low, high;
        // Eventually: the stretch inside the limits going on, and the longest one.
        double stretchStart = -1;
        double bestStart = -1;
        double bestEnd = -1;
        double reachedAt = -1;
        // At start / at end: the state judged.
        bool haveOne = false;
        bool oneFinite = true;
        double oneValue = 0;
        double oneTime = 0;
    };

    void judge(Tracker& t, double time, double value, bool finite);
    Verdict verdictOf(const Tracker& t) const;

    const CheckSuite& mSuite;
    std::vector<Tracker> mTrackers;
    Origin mOrigin;
    qint64 mStates = 0;
    double mFirst = 0;
    double mLast = 0;
    double mMaxGap = 0;
    double mMaxGapAt = 0;
    bool mWrongProduct = false;
    int mWrongProductValue = 0;
    double mWrongProductAt = 0;
};

// "12.345" (seconds, as a verdict's time is shown).
QString secondsText(double seconds);
// A value as the evidence shows it: up to 6 significant digits.
QString valueText(double value);

} // namespace check
