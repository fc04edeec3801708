#pragma once

#include <QIcon>
#include <QString>

// Folder of the settings file with forward slashes and no trailing slash: the
// program's own folder in the build tree, where the log root and the visualiser
// live too; the user's configuration folder when installed (see AppDirs).
QString applicationDir();

// The program icon, looked up beside the program (or in the installed share
// folder) rather than in the working folder, so it is found however the host
// was started.
QIcon hostWindowIcon();

// Creates one log folder level; true when the folder exists afterwards. A
// folder that cannot be made gives one console line naming it.
bool makeFolder(const QString& path);

// Starts the visualiser that belongs with the settings in appDir (the folder
// itself in the build tree) without waiting for it; the result is ignored, as a
// missing visualiser is not the host's concern.
void startVisualiser(const QString& appDir);
