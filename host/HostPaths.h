#pragma once

#include <QIcon>
#include <QString>

// Folder of the running program with forward slashes and no trailing slash;
// the settings file, the log root and the visualiser live there.
QString applicationDir();

// The program icon, looked up next to the program rather than in the working
// folder, so it is found however the host was started.
QIcon hostWindowIcon();

// Creates one log folder level; true when the folder exists afterwards. A
// folder that cannot be made gives one console line naming it.
bool makeFolder(const QString& path);

// Starts the visualiser from appDir without waiting for it; the result is
// ignored, as a missing visualiser is not the host's concern.
void startVisualiser(const QString& appDir);
