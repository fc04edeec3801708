#pragma once

#include "viewer/app/ConfigTarget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// One waypoint of the reference path: world position (z is the height), the
// length of the corner rounding and the parameter step used when sampling.
struct TrajPoint {
    double x = 0, y = 0, z = 0;
    double damping = 0;
    double delta = 0;
};

namespace Traj {

// Column header labels of the table, in column order.
QStringList headerLabels();

// Waypoints from the text of "Traj.dat": one JSON object per line; empty and
// unreadable lines are skipped, a missing key reads as 0.
QVector<TrajPoint> parseFile(const QString& text);

// One line of "Traj.dat" for p, with its "\n".
QByteArray fileLine(const TrajPoint& p);

// The text a table cell shows for v (six significant digits, shortest form).
QString cellText(double v);

// A waypoint from a row's five cell texts: text that is not a finite number
// reads as 0, and a damping length or delta that is not above 0 becomes 0.
TrajPoint fromCells(const QStringList& cells);

// Smallest delta accepted: a piece gets ceil(1 / delta) samples, so anything
// finer only burns memory (and 0 would never reach the end of a piece).
constexpr float MinDelta = 1e-4f;

struct CheckResult {
    // Per row: whether its damping length fits the pieces next to its corner.
    // Rows 0 .. n-3 are checked; the others stay true and keep their colour.
    QVector<bool> dampingOk;
    // Per row: whether its delta can sample a piece; rows 0 .. n-2 are checked.
    QVector<bool> deltaOk;
    int dampingChecked = 0; // number of rows whose damping cell is coloured
    int deltaChecked = 0; // number of rows whose delta cell is coloured
    bool ok = false; // at least 3 points and every checked row passed
};

CheckResult check(const QVector<TrajPoint>& points);

// The rounded path through points as scene points (400 * speed per world unit,
// table Y as the scene's depth and Z as its height), in single precision.
// Expects points that passed check().
QVector<ScenePoint> build(const QVector<TrajPoint>& points, float speed);

} // namespace Traj
