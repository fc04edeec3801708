#include "HostPaths.h"

#include "common/AppDirs.h"
#include "link/ConsoleLog.h"

#include <QProcess>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

QString applicationDir()
{
    return appDirs().settingsDir;
}

QIcon hostWindowIcon()
{
    return QIcon(appDirs().resourceDir + "/QuvorSimulator.ico");
}

bool makeFolder(const QString& path)
{
    // mkdir(2) makes exactly one level, like the system call the layout was designed for.
    const QByteArray local = path.toLocal8Bit();
    if (::mkdir(local.constData(), 0777) == 0)
        return true;
    const int error = errno;
    struct stat info = {};
    if (error == EEXIST && ::stat(local.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return true;
    // Without the folder no log file of this run can be written; the user
    // would otherwise only notice empty log folders afterwards.
    logDefault(LogWarning, "Log folder %s cannot be created: %s.", local.constData(), std::strerror(error));
    return false;
}

void startVisualiser(const QString& appDir)
{
    const AppDirs dirs = appDirsOf(appDir);
    QProcess::startDetached(dirs.programDir + "/QuvorSimulatorUI", {}, dirs.dataDir);
}
