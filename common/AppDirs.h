#pragma once

#include <QProcessEnvironment>
#include <QString>

// Where a program keeps its settings and recordings and finds its OGRE
// configuration and media. Run from the build folder everything is the
// program's own folder; run from an installed tree (bin/ beside share/quvor/,
// the program's folder holding no media or OGRE configuration of its own) the
// settings go to the user's configuration folder, the recordings to the user's
// data folder and the resources come from share/quvor. Paths have forward
// slashes and no trailing slash.
struct AppDirs {
    bool installed = false;
    QString programDir; // the running program, its sibling programs
    QString settingsDir; // config.ini, UIconfig.ini, Traj.dat
    QString dataDir; // default log root and recording root
    QString resourceDir; // plugins.cfg, ogre.cfg, resources.cfg, media/, the icon
};

// The folders for a program in programDir; HOME and the XDG base directory
// variables come from env. Only reads the file system.
AppDirs appDirsFor(const QString& programDir, const QProcessEnvironment& env);

// The running program's folders, worked out once. When installed, the first
// call creates the settings and data folders and says on standard output
// where settings are read from.
const AppDirs& appDirs();

// The folders that belong with settings kept in settingsDir: the running
// program's own when settingsDir is its settings folder, otherwise settingsDir
// for every role (the build tree, or a folder a caller chose).
AppDirs appDirsOf(const QString& settingsDir);
