#include "host/HostPaths.h"

#include "common/AppDirs.h"
#include "common/Folders.h"
#include "link/ConsoleLog.h"

#include <QProcess>

#include <cstring>

QString applicationDir() { return appDirs().settingsDir; }

QIcon hostWindowIcon() { return QIcon(appDirs().resourceDir + "/QuvorSimulator.ico"); }

bool makeFolder(const QString& path)
{
    int error = 0;
    if (Folders::makeOne(path, &error))
        return true;
    // Without the folder no log file of this run can be written; the user
    // would otherwise only notice empty log folders afterwards.
    logDefault(LogWarning, "Log folder %s cannot be created: %s.", path.toLocal8Bit().constData(),
               std::strerror(error));
    return false;
}

void startVisualiser(const QString& appDir)
{
    const AppDirs dirs = appDirsOf(appDir);
    // Beside this host's dialog, which moves aside for it.
    QProcess::startDetached(dirs.programDir + "/QuvorSimulatorUI", {"--side-by-side"}, dirs.dataDir);
}
