#include "common/Folders.h"

#include <sys/stat.h>

#include <cerrno>

namespace Folders {

QString datedName(const QDateTime& localTime)
{
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    return QStringLiteral("[%1-%2-%3,%4_%5_%6]")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(time.hour(), 2, 10, QLatin1Char('0'))
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'));
}

bool makeOne(const QString& path, int* error)
{
    const QByteArray local = path.toLocal8Bit();
    if (::mkdir(local.constData(), 0777) == 0)
        return true;
    const int mkdirError = errno;
    struct stat info = {};
    if (mkdirError == EEXIST && ::stat(local.constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return true;
    if (error)
        *error = mkdirError;
    return false;
}

} // namespace Folders
