#include "host/DeviceLog.h"

#include "common/AppDirs.h"
#include "common/Folders.h"
#include "host/HostPaths.h"
#include "link/Commands.h"
#include "link/Package.h"
#include "logwindow/LogClass.h"

#include <QDateTime>
#include <QTime>

#include <algorithm>
#include <ctime>
#include <new>

namespace {

const char16_t* utf16(const QString& text) { return reinterpret_cast<const char16_t*>(text.utf16()); }

// The text before the last "/"; the whole text when it has none.
QString beforeLastSlash(const QString& text)
{
    const int slash = text.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? text : text.left(slash);
}

// QTime::currentTime re-reads the time zone on every call; localtime_r reads
// it once per process, which matters on the listener thread.
QTime localTimeNow()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return QTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59), int(now.tv_nsec / 1000000));
}

QString windowName(int logType) { return QStringLiteral("Log_type_") + QString::number(logType); }

bool isBlank(QChar c) { return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r')); }

// Reads an optionally signed decimal at pos after blanks, as the C library's
// %d would, but saturating instead of overflowing.
bool readInt(const QString& text, int& pos, long long& value)
{
    int i = pos;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        negative = text[i++] == QLatin1Char('-');
    const int digitsStart = i;
    long long magnitude = 0;
    for (; i < text.size() && text[i].isDigit() && text[i].unicode() < 0x80; ++i)
        magnitude = std::min(magnitude * 10 + (text[i].unicode() - '0'), 1LL << 40);
    if (i == digitsStart)
        return false;
    value = negative ? -magnitude : magnitude;
    pos = i;
    return true;
}

bool entryMatches(const QString& entry, int logType)
{
    int pos = 0;
    long long low = 0;
    long long high = 0;
    if (readInt(entry, pos, low) && pos < entry.size() && entry[pos] == QLatin1Char('-')) {
        ++pos;
        if (readInt(entry, pos, high) && low >= 0 && high >= low)
            return low <= logType && logType <= high;
    }
    // Not a usable range: the leading number alone, so "9-3" means 9.
    pos = 0;
    return readInt(entry, pos, low) && low >= 0 && low == logType;
}

int countMatches(const QString& text, int logType)
{
    int matches = 0;
    for (const QString& entry : logTypeEntries(text))
        matches += entryMatches(entry, logType) ? 1 : 0;
    return matches;
}

} // namespace

QString allLogTypes() { return QStringLiteral("0-255,"); }

QStringList logTypeEntries(const QString& text)
{
    QStringList entries;
    int from = 0;
    for (;;) {
        const int comma = text.indexOf(QLatin1Char(','), from);
        if (comma <= from) // no comma left, or an empty entry
            break;
        entries.append(text.mid(from, comma - from));
        from = comma + 1;
    }
    return entries;
}

int logFilterCount(int logType, const QString& offered, const QString& excluded)
{
    return countMatches(offered, logType) - countMatches(excluded, logType);
}

QString includeLogTypeEntry(const QString& excluded, const QString& entry)
{
    const QString enclosed = QLatin1Char(',') + entry + QLatin1Char(',');
    const QString leading = entry + QLatin1Char(',');
    QString result = excluded;
    if (result.contains(enclosed))
        result.replace(enclosed, QStringLiteral(","));
    else if (result.startsWith(leading))
        result.remove(0, leading.size());
    return result;
}

QString excludeLogTypeEntry(const QString& excluded, const QString& entry)
{
    const QString leading = entry + QLatin1Char(',');
    if (excluded.contains(QLatin1Char(',') + leading) || excluded.startsWith(leading))
        return excluded;
    return excluded + leading;
}

DeviceLog::DeviceLog(const QString& appDir) : mLogDir(appDirsOf(appDir).dataDir + QStringLiteral("/LOG_FILES/"))
{
    makeFolder(mLogDir);
}

DeviceLog::~DeviceLog()
{
    std::lock_guard<std::mutex> lock(mLock);
    mLogWindows.clear();
}

bool DeviceLog::handlePackage(const PackageProperty_V1* package)
{
    if (!package || package->cmdSet != cmd::GeneralSet || package->cmdId != cmd::DeviceLog)
        return false;
    // Without its type byte a message has no window to go to.
    if (package->payloadLength() < 1)
        return false;
    const int logType = package->payload()[0];

    std::lock_guard<std::mutex> lock(mLock);
    auto it = mLogWindows.find(logType);
    if (it == mLogWindows.end())
        it = mLogWindows.emplace(logType, createWindow(logType)).first;
    LogClass* window = it->second;
    if (!window)
        return false;
    if (mDialog)
        window->SetFontSize(mDialog->fontSize);

    // After a change of the log root the window still points at the old run folder.
    const QString logPath = mLogDir + windowName(logType) + QStringLiteral(".txt");
    if (beforeLastSlash(QString::fromUtf16(window->GetCurDir())) != beforeLastSlash(mLogDir))
        window->SetLogPath(utf16(logPath));

    const QString line = formatLine(package, mLogInfo.time, mLogInfo.info, mLogInfo.time ? localTimeNow() : QTime());
    window->Save2File(mLogInfo.save);
    if (mLogInfo.save && mLogDir != mLogDirMade) {
        makeFolder(mLogDir);
        mLogDirMade = mLogDir;
    }
    window->Append(utf16(line));
    return true;
}

LogClass* DeviceLog::createWindow(int logType)
{
    auto* window = new (std::nothrow) LogClass(u"Log Window");
    if (!window)
        return nullptr;
    const QString name = windowName(logType);
    if (mDialog)
        window->SetFontSize(mDialog->fontSize);
    window->SetWindowPosFileName(utf16(name));
    window->SetLogPath(utf16(mLogDir + name + QStringLiteral(".txt")));
    window->Save2File(mLogInfo.save);
    window->SetWindowTitle(utf16(QStringLiteral("Log type:") + QString::number(logType)));
    window->SetEnabled(false);
    if (mDialog)
        enableByFilter(logType, window);
    window->Show(mLogInfo.show);
    return window;
}

void DeviceLog::enableByFilter(int logType, LogClass* window)
{
    window->SetEnabled(logFilterCount(logType, mDialog->offeredLogTypes, mDialog->excludedLogTypes) > 0);
}

void DeviceLog::applyOptions(const LOG_INFO& info, const LogDialogValues* dialog)
{
    std::lock_guard<std::mutex> lock(mLock);
    mLogInfo = info;
    if (dialog)
        mDialog = *dialog;
    else
        mDialog.reset();

    // A run folder's parent is the root it was made for; a new root gets a new
    // run folder, any other change keeps the current one.
    if (beforeLastSlash(beforeLastSlash(mLogDir)) != info.path)
        mLogDir = runFolder(info.path, QDateTime::currentDateTime());

    if (mDialog) {
        for (const auto& [logType, window] : mLogWindows)
            if (window)
                window->SetFontSize(mDialog->fontSize);
    }
    for (const auto& [logType, window] : mLogWindows)
        if (window)
            window->Show(info.show);
    if (mDialog) {
        for (const auto& [logType, window] : mLogWindows)
            if (window)
                enableByFilter(logType, window);
    }
}

void DeviceLog::setDialogValues(const LogDialogValues* dialog)
{
    std::lock_guard<std::mutex> lock(mLock);
    if (dialog)
        mDialog = *dialog;
    else
        mDialog.reset();
}

void DeviceLog::clearWindows()
{
    std::lock_guard<std::mutex> lock(mLock);
    for (const auto& [logType, window] : mLogWindows)
        if (window)
            window->ClearAll();
}

LOG_INFO DeviceLog::logInfo() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLogInfo;
}

QString DeviceLog::logDir() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLogDir;
}

QString DeviceLog::logDirMade() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mLogDirMade;
}

LogClass* DeviceLog::window(int logType) const
{
    std::lock_guard<std::mutex> lock(mLock);
    const auto it = mLogWindows.find(logType);
    return it == mLogWindows.end() ? nullptr : it->second;
}

QString DeviceLog::formatLine(const PackageProperty_V1* package, bool time, bool info, const QTime& now)
{
    QString line;
    if (time) {
        line += QStringLiteral("[%1:%2:%3.%4]")
                    .arg(now.hour(), 2, 10, QLatin1Char('0'))
                    .arg(now.minute(), 2, 10, QLatin1Char('0'))
                    .arg(now.second(), 2, 10, QLatin1Char('0'))
                    .arg(now.msec(), 3, 10, QLatin1Char('0'));
    }
    if (!info) {
        line += QLatin1Char('[') + QString::number(package->seq()) +
            QStringLiteral("][sender=0x%1.%2")
                .arg(package->senderType(), 2, 16, QLatin1Char('0'))
                .arg(package->senderIndex(), 1, 16) +
            QStringLiteral("]\t");
    }

    const size_t payloadLength = package->payloadLength();
    const char* text = reinterpret_cast<const char*>(package->payload()) + 1;
    size_t textLength = 0;
    while (textLength + 1 < payloadLength && text[textLength] != '\0')
        ++textLength;
    const QString message = QString::fromUtf8(text, int(textLength));
    int start = 0;
    while (start < message.size() && message[start].unicode() <= 0x20)
        ++start;
    line += message.midRef(start);

    const int crlf = line.lastIndexOf(QStringLiteral("\r\n"));
    if (crlf >= 0)
        line.truncate(crlf);
    return line;
}

QString DeviceLog::runFolder(const QString& root, const QDateTime& now)
{
    return root + QLatin1Char('/') + Folders::datedName(now) + QLatin1Char('/');
}
