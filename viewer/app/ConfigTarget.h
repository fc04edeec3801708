#pragma once

#include <QVector>

// One point of a line in scene coordinates.
struct ScenePoint {
    float x = 0, y = 0, z = 0;
};

// What the configuration dialog needs from the main window. Going through this
// instead of the window class keeps the dialog free of the 3D view, so it can
// run (and be tested) without one.
class ConfigTarget {
public:
    // The window's onTraceChanged(): apply the dialog's values, rewrite the settings file.
    virtual void applyConfig() = 0;
    // Replace the trajectory line's points and mark it for a rebuild; empty clears it.
    virtual void replaceTrajectory(const QVector<ScenePoint>& points) = 0;

protected:
    ~ConfigTarget() = default;
};

// The main window once it exists; null before (and in tests that run the dialog alone).
extern ConfigTarget* gConfigTarget;
