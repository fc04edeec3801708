#include "viewer/app/TrajectoryTable.h"

#include "common/Json.h"

#include <QVariantMap>

#include <algorithm>
#include <cmath>

namespace Traj {

namespace {

const char* const kX = "X";
const char* const kY = "Y";
const char* const kZ = "Z";
const char* const kDamping = "DAMPLING_LENGTH"; // spelled so in existing files
const char* const kDelta = "DELTA";

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

struct Vec {
    float x, y, z;
};

Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, float s) { return {a.x * s, a.y * s, a.z * s}; }

float length(Vec v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

Vec position(const TrajPoint& p) { return {float(p.x), float(p.y), float(p.z)}; }

// from moved by `by` along the line toward `to`; coincident points stay put.
Vec moveToward(Vec from, Vec to, float by)
{
    const float len = length(to - from);
    if (len == 0.0f)
        return from;
    return from + (to - from) * (by / len);
}

float distance(const TrajPoint& a, const TrajPoint& b) { return length(position(b) - position(a)); }

bool deltaUsable(double delta) { return std::isfinite(delta) && float(delta) >= MinDelta; }

// Samples f at t = step, 2 step, ... and finally t = 1 exactly; t = 0 is left out.
template <typename F> void sample(float step, F f)
{
    for (int k = 1;; ++k) {
        const float t = std::min(float(k) * step, 1.0f);
        f(t);
        if (t >= 1.0f)
            break;
    }
}

} // namespace

QStringList headerLabels() { return {"Point_X", "Point_Y", "Point_Z", "Damping_L", "Delta_T"}; }

QVector<TrajPoint> parseFile(const QString& text)
{
    QVector<TrajPoint> points;
    const QStringList lines = text.split('\n');
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        bool ok = false;
        const QVariant value = Json::parse(line, ok);
        if (!ok)
            continue;
        const QVariantMap m = value.toMap();
        TrajPoint p;
        p.x = finiteOrZero(m.value(kX).toDouble());
        p.y = finiteOrZero(m.value(kY).toDouble());
        p.z = finiteOrZero(m.value(kZ).toDouble());
        p.damping = finiteOrZero(m.value(kDamping).toDouble());
        p.delta = finiteOrZero(m.value(kDelta).toDouble());
        points.append(p);
    }
    return points;
}

QByteArray fileLine(const TrajPoint& p)
{
    QVariantMap m;
    m.insert(kX, p.x);
    m.insert(kY, p.y);
    m.insert(kZ, p.z);
    m.insert(kDamping, p.damping);
    m.insert(kDelta, p.delta);
    return Json::serialize(m) + '\n';
}

QString cellText(double v) { return QString::number(v, 'g', 6); }

TrajPoint fromCells(const QStringList& cells)
{
    double v[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 5 && i < cells.size(); ++i)
        v[i] = finiteOrZero(cells[i].trimmed().toDouble());
    TrajPoint p{v[0], v[1], v[2], v[3], v[4]};
    if (!(p.damping > 0))
        p.damping = 0;
    if (!(p.delta > 0))
        p.delta = 0;
    return p;
}

CheckResult check(const QVector<TrajPoint>& points)
{
    const int n = points.size();
    CheckResult r;
    r.dampingOk.fill(true, n);
    r.deltaOk.fill(true, n);
    bool allPass = true;
    for (int h = 0; h + 2 < n; ++h) {
        const float dh = float(points[h].damping);
        bool pass;
        if (h == 0) {
            pass = dh <= distance(points[0], points[1]);
        } else {
            const float dPrev = float(points[h - 1].damping);
            const float dNext = float(points[h + 1].damping);
            pass = distance(points[h + 1], points[h + 2]) >= dh + dNext &&
                distance(points[h], points[h + 1]) >= dPrev + dh;
        }
        r.dampingOk[h] = pass;
        allPass = allPass && pass;
    }
    r.dampingChecked = std::max(0, n - 2);
    // Only the deltas of rows 0 .. n-2 sample a piece.
    for (int h = 0; h + 1 < n; ++h) {
        r.deltaOk[h] = deltaUsable(points[h].delta);
        allPass = allPass && r.deltaOk[h];
    }
    r.deltaChecked = std::max(0, n - 1);
    r.ok = n >= 3 && allPass;
    return r;
}

QVector<ScenePoint> build(const QVector<TrajPoint>& points, float speed)
{
    QVector<ScenePoint> out;
    const int n = points.size();
    const float scale = 400.0f * speed;
    auto put = [&](Vec v) { out.append({scale * v.x, scale * v.z, scale * v.y}); };

    for (int h = 0; h + 1 < n; ++h) {
        if (!deltaUsable(points[h].delta))
            continue; // check() rejects this; never loop on it
        const float step = float(points[h].delta);
        const Vec p0 = position(points[h]);
        const Vec p1 = position(points[h + 1]);
        const float startTrim = h == 0 ? 0.0f : float(points[h - 1].damping);
        const float endTrim = float(points[h].damping);
        const Vec a = moveToward(p0, p1, startTrim);
        const Vec b = moveToward(p1, p0, endTrim);
        sample(step, [&](float t) { put(a + (b - a) * t); });

        if (h + 2 < n) {
            const Vec q0 = moveToward(p1, p0, endTrim);
            const Vec q1 = p1;
            const Vec q2 = moveToward(p1, position(points[h + 2]), endTrim);
            sample(step, [&](float t) { put((q0 - q1 * 2.0f + q2) * (t * t) + (q1 * 2.0f - q0 * 2.0f) * t + q0); });
        }
    }
    return out;
}

} // namespace Traj
