#include "HostPaths.h"

#include "common/AppDirs.h"

#include <QProcess>

#include <sys/stat.h>

QString applicationDir()
{
    return appDirs().settingsDir;
}

QIcon hostWindowIcon()
{
    return QIcon(appDirs().resourceDir + "/QuvorSimulator.ico");
}

void makeFolder(const QString& path)
{
    // mkdir(2) makes exactly one level, like the system call the layout was designed for.
    ::mkdir(path.toLocal8Bit().constData(), 0777);
}

void startVisualiser(const QString& appDir)
{
    const AppDirs dirs = appDirsOf(appDir);
    QProcess::startDetached(dirs.programDir + "/QuvorSimulatorUI", {}, dirs.dataDir);
}
