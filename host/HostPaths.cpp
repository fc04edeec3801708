#include "HostPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <sys/stat.h>

QString applicationDir()
{
    QString dir = QDir::fromNativeSeparators(QCoreApplication::applicationDirPath());
    while (dir.size() > 1 && dir.endsWith('/'))
        dir.chop(1);
    return dir;
}

QIcon hostWindowIcon()
{
    return QIcon(applicationDir() + "/QuvorSimulator.ico");
}

void makeFolder(const QString& path)
{
    // mkdir(2) makes exactly one level, like the system call the layout was designed for.
    ::mkdir(path.toLocal8Bit().constData(), 0777);
}

void startVisualiser(const QString& appDir)
{
    QProcess::startDetached(appDir + "/QuvorSimulatorUI", {}, appDir);
}
