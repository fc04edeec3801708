#include "tools/check/FlightJudge.h"

#include "common/ProductType.h"

#include <cmath>
#include <limits>

namespace check {

using StateDatagram::State;

QString secondsText(double seconds) { return QString::number(seconds, 'f', 3); }

QString valueText(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("not finite");
    return QString::number(value, 'g', 6);
}

namespace {

QString limitsText(const Check& c)
{
    if (c.min && c.max)
        return QString("%1..%2").arg(valueText(*c.min), valueText(*c.max));
    if (c.min)
        return QString("min %1").arg(valueText(*c.min));
    return QString("max %1").arg(valueText(*c.max));
}

double windowEnd(const Check& c) { return c.to ? *c.to : std::numeric_limits<double>::infinity(); }

QString windowText(const Check& c)
{
    if (!c.from && !c.to)
        return QStringLiteral("the flight");
    return QString("the window %1..%2 s")
        .arg(valueText(c.from ? *c.from : 0.0), c.to ? valueText(*c.to) : QStringLiteral("end"));
}

bool inside(const Check& c, double value) { return (!c.min || value >= *c.min) && (!c.max || value <= *c.max); }

// "height 15.2 above max 15" for a value outside the limits of c.
QString outsideText(const Check& c, double value, bool finite)
{
    if (!finite)
        return QString("the state is not finite (%1 %2)").arg(c.value.name, valueText(value));
    if (c.max && value > *c.max)
        return QString("%1 %2 above max %3").arg(c.value.name, valueText(value), valueText(*c.max));
    return QString("%1 %2 below min %3").arg(c.value.name, valueText(value), valueText(*c.min));
}

double limitCrossed(const Check& c, double value)
{
    if (c.max && !(value <= *c.max))
        return *c.max;
    return c.min ? *c.min : *c.max;
}

} // namespace

FlightJudge::FlightJudge(const CheckSuite& suite) : mSuite(suite)
{
    mTrackers.resize(size_t(suite.checks.size()));
    for (int i = 0; i < suite.checks.size(); ++i)
        mTrackers[size_t(i)].check = &suite.checks[i];
}

void FlightJudge::add(double time, const State& state)
{
    if (mStates == 0) {
        mFirst = time;
    } else {
        const double gap = time - mLast;
        if (gap > mMaxGap) {
            mMaxGap = gap;
            mMaxGapAt = time - mFirst;
        }
    }
    mLast = time;
    ++mStates;
    const double t = time - mFirst;
    if (!mOrigin.set && state.finite) {
        mOrigin.set = true;
        mOrigin.x = state.worldX;
        mOrigin.y = state.worldY;
    }
    if (mSuite.product && state.productType != *mSuite.product && !mWrongProduct) {
        mWrongProduct = true;
        mWrongProductValue = state.productType;
        mWrongProductAt = t;
    }
    for (Tracker& tracker : mTrackers) {
        const double value = valueOf(tracker.check->value, state, mOrigin);
        judge(tracker, t, value, state.finite && std::isfinite(value));
    }
}

void FlightJudge::judge(Tracker& k, double t, double value, bool finite)
{
    const Check& c = *k.check;
    const bool ok = finite && inside(c, value);
    switch (c.mode) {
    case Mode::AtStart:
        if (k.haveOne)
            return;
        [[fallthrough]];
    case Mode::AtEnd:
        k.haveOne = true;
        k.oneFinite = finite;
        k.oneValue = value;
        k.oneTime = t;
        return;
    case Mode::Always:
    case Mode::Eventually: break;
    }
    if (t < (c.from ? *c.from : 0.0) || t > windowEnd(c)) {
        k.stretchStart = -1;
        return;
    }
    ++k.inWindow;
    if (c.mode == Mode::Always) {
        if (finite) {
            if (k.inWindow == 1 || value < k.low.value)
                k.low = {value, t};
            if (k.inWindow == 1 || value > k.high.value)
                k.high = {value, t};
        }
        if (!ok && !k.failed) {
            k.failed = true;
            k.failTime = t;
            k.failValue = value;
            k.failNotFinite = !finite;
        }
        return;
    }
    if (!ok) {
        k.stretchStart = -1;
        return;
    }
    if (k.stretchStart < 0)
        k.stretchStart = t;
    if (k.bestStart < 0 || t - k.stretchStart > k.bestEnd - k.bestStart) {
        k.bestStart = k.stretchStart;
        k.bestEnd = t;
    }
    if (k.reachedAt < 0 && t - k.stretchStart >= c.forSeconds)
        k.reachedAt = t;
}

Verdict FlightJudge::verdictOf(const Tracker& k) const
{
    const Check& c = *k.check;
    Verdict v;
    v.name = c.name;
    const double end = duration();
    if (c.mode == Mode::AtStart || c.mode == Mode::AtEnd) {
        const char* which = c.mode == Mode::AtStart ? "start" : "end";
        if (!k.haveOne) {
            v.evidence = QString("no state: the flight has no %1").arg(which);
            return v;
        }
        v.time = k.oneTime;
        v.passed = k.oneFinite && inside(c, k.oneValue);
        v.numbers = {{"time", k.oneTime}, {"value", k.oneValue}};
        if (v.passed)
            v.evidence = QString("at %1 s (%2) %3 %4, within %5")
                             .arg(secondsText(k.oneTime), which, c.value.name, valueText(k.oneValue), limitsText(c));
        else {
            v.evidence =
                QString("at %1 s (%2) %3").arg(secondsText(k.oneTime), which, outsideText(c, k.oneValue, k.oneFinite));
            if (k.oneFinite)
                v.numbers.append({"limit", limitCrossed(c, k.oneValue)});
        }
        return v;
    }
    if (k.inWindow == 0) {
        v.time = end;
        v.evidence = QString("no state in %1").arg(windowText(c));
        return v;
    }
    if (c.mode == Mode::Always) {
        v.passed = !k.failed;
        if (k.failed) {
            v.time = k.failTime;
            v.evidence =
                QString("at %1 s %2").arg(secondsText(k.failTime), outsideText(c, k.failValue, !k.failNotFinite));
            v.numbers = {{"time", k.failTime}, {"value", k.failValue}};
            if (!k.failNotFinite)
                v.numbers.append({"limit", limitCrossed(c, k.failValue)});
        } else {
            v.time = std::min(end, windowEnd(c));
            v.evidence = QString("%1 within %2 over %3: lowest %4 at %5 s, highest %6 at %7 s")
                             .arg(c.value.name, limitsText(c), windowText(c), valueText(k.low.value),
                                  secondsText(k.low.time), valueText(k.high.value), secondsText(k.high.time));
            v.numbers = {{"lowest", k.low.value},
                         {"lowest_time", k.low.time},
                         {"highest", k.high.value},
                         {"highest_time", k.high.time}};
        }
        return v;
    }
    v.passed = k.reachedAt >= 0;
    v.time = v.passed ? k.reachedAt : std::min(end, windowEnd(c));
    v.numbers = {{"needed", c.forSeconds}};
    if (k.bestStart < 0) {
        v.evidence = QString("%1 never within %2 in %3").arg(c.value.name, limitsText(c), windowText(c));
        return v;
    }
    const double best = k.bestEnd - k.bestStart;
    v.numbers.append({"from", k.bestStart});
    v.numbers.append({"to", k.bestEnd});
    v.numbers.append({"duration", best});
    v.evidence = QString("%1 within %2 for %3 s from %4 s to %5 s (longest stretch), %6 %7 s")
                     .arg(c.value.name, limitsText(c), secondsText(best), secondsText(k.bestStart),
                          secondsText(k.bestEnd), v.passed ? "needs" : "but needs", valueText(c.forSeconds));
    return v;
}

QVector<Verdict> FlightJudge::verdicts() const
{
    QVector<Verdict> out;
    const RunLimits& r = mSuite.run;
    const double length = duration();
    const QString flight = mStates == 0
        ? QStringLiteral("no flight")
        : QString("the flight lasted %1 s with %2 states").arg(secondsText(length)).arg(mStates);
    if (mSuite.product) {
        Verdict v;
        v.name = QString("product %1").arg(mSuite.productName);
        v.passed = mStates > 0 && !mWrongProduct;
        if (mWrongProduct) {
            v.time = mWrongProductAt;
            v.evidence = QString("at %1 s ProductType %2 (%3)")
                             .arg(secondsText(mWrongProductAt))
                             .arg(mWrongProductValue)
                             .arg(productTypeName(ProductType(mWrongProductValue & 0xFF)));
            v.numbers = {{"time", mWrongProductAt}, {"value", double(mWrongProductValue)}};
        } else {
            v.time = length;
            v.evidence = mStates == 0 ? flight : QString("every state from a %1").arg(mSuite.productName);
        }
        out.append(v);
    }
    auto limit = [&](const char* name, const std::optional<double>& bound, double value, bool passed,
                     const QString& evidence, double at) {
        if (!bound)
            return;
        Verdict v;
        v.name = QString("%1 %2").arg(name, valueText(*bound));
        v.passed = mStates > 0 && passed;
        v.time = at;
        v.evidence = mStates == 0 ? flight : evidence;
        if (mStates > 0)
            v.numbers = {{"value", value}, {"limit", *bound}};
        out.append(v);
    };
    limit("min_duration", r.minDuration, length, r.minDuration && length >= *r.minDuration, flight, length);
    limit("max_duration", r.maxDuration, length, r.maxDuration && length <= *r.maxDuration, flight, length);
    const double rate = mStates > 1 && length > 0 ? double(mStates - 1) / length : 0;
    limit("min_rate", r.minRate, rate, r.minRate && rate >= *r.minRate,
          QString("%1 states/s (%2)").arg(valueText(rate), flight), length);
    limit("max_gap", r.maxGap, mMaxGap, r.maxGap && mMaxGap <= *r.maxGap,
          QString("longest gap %1 s, before the state at %2 s").arg(secondsText(mMaxGap), secondsText(mMaxGapAt)),
          mMaxGapAt);
    for (const Tracker& k : mTrackers)
        out.append(verdictOf(k));
    return out;
}

} // namespace check
