#include "common/AppDirs.h"

#include "common/Console.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString clean(const QString& path)
{
    QString dir = QDir::cleanPath(QDir::fromNativeSeparators(path));
    while (dir.size() > 1 && dir.endsWith('/'))
        dir.chop(1);
    return dir;
}

// An XDG base directory: the variable when it holds an absolute path (relative
// ones are to be ignored), else the fallback under the home folder.
QString baseDir(const QProcessEnvironment& env, const char* variable, const QString& home, const char* fallback)
{
    const QString value = env.value(QString::fromLatin1(variable));
    if (QDir::isAbsolutePath(value))
        return clean(value);
    return clean(home + '/' + QLatin1String(fallback));
}

AppDirs sameForAll(const QString& dir)
{
    AppDirs d;
    d.programDir = d.settingsDir = d.dataDir = d.resourceDir = dir;
    return d;
}

} // namespace

AppDirs appDirsFor(const QString& programDir, const QProcessEnvironment& env)
{
    const QString dir = clean(programDir);
    const QString share = clean(dir + "/../share/quvor");
    // Root may write anywhere, so where the program is decides, not what is writable.
    const bool ownResources = QFileInfo(dir + "/media").isDir() || QFileInfo::exists(dir + "/plugins.cfg");
    if (ownResources || !QFileInfo(share).isDir())
        return sameForAll(dir);

    QString home = env.value("HOME");
    if (!QDir::isAbsolutePath(home))
        home = QDir::homePath();
    AppDirs d;
    d.installed = true;
    d.programDir = dir;
    d.settingsDir = baseDir(env, "XDG_CONFIG_HOME", home, ".config") + "/Quvor";
    d.dataDir = baseDir(env, "XDG_DATA_HOME", home, ".local/share") + "/Quvor";
    d.resourceDir = share;
    return d;
}

const AppDirs& appDirs()
{
    static const AppDirs dirs = [] {
        const AppDirs d = appDirsFor(QCoreApplication::applicationDirPath(), QProcessEnvironment::systemEnvironment());
        if (d.installed) {
            QDir().mkpath(d.settingsDir);
            QDir().mkpath(d.dataDir);
            Console::out(
                QString("%1: settings are read from %2\n").arg(QCoreApplication::applicationName(), d.settingsDir),
                Console::Flush::Now);
        }
        return d;
    }();
    return dirs;
}

AppDirs appDirsOf(const QString& settingsDir)
{
    const AppDirs& running = appDirs();
    if (running.installed && clean(settingsDir) == running.settingsDir)
        return running;
    return sameForAll(settingsDir);
}
