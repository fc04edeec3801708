#include "host/HostSettings.h"

#include "common/AppDirs.h"
#include "common/Json.h"
#include "link/ConsoleLog.h"

#include <QDir>

#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QVariantMap>

#include <atomic>

HostSettings HostSettings::defaults(const QString& appDir)
{
    HostSettings s;
    s.m_path = appDirsOf(appDir).dataDir + "/LOG_FILES/";
    return s;
}

QString settingsFilePath(const QString& appDir) { return appDir + "/config.ini"; }

HostSettings readSettingsFile(const QString& appDir)
{
    const QString path = settingsFilePath(appDir);
    QByteArray bytes;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // One more byte than allowed tells an oversized file from one that fits.
        bytes = file.read(MaxSettingsFileBytes + 1);
        if (bytes.size() > MaxSettingsFileBytes) {
            logDefault(LogWarning, "%s is larger than %lld bytes and is not read; the defaults apply.",
                       qPrintable(QDir::toNativeSeparators(path)), static_cast<long long>(MaxSettingsFileBytes));
            return HostSettings::defaults(appDir);
        }
    }
    QTextStream in(&bytes, QIODevice::ReadOnly); // the locale's codec, as the writer uses
    const QString text = in.readAll();
    if (text.isEmpty())
        return HostSettings::defaults(appDir);

    bool ok = false;
    const QVariant parsed = Json::parse(text, ok);
    // The lenient reader takes "5 not json" for the number 5: anything but an
    // object is no settings file at all.
    if (!ok || parsed.userType() != QMetaType::QVariantMap)
        return HostSettings::defaults(appDir);

    const QVariantMap map = parsed.toMap();
    HostSettings s;
    s.mUdpBroadcast = map.value("mUdpBroadcast").toBool();
    s.mFontSize = map.value("mFontSize").toInt();
    s.mAutoUI = map.value("mAutoUI").toBool();
    s.m_time = map.value("m_time").toBool();
    s.m_save = map.value("m_save").toBool();
    s.m_info = map.value("m_info").toBool();
    s.m_show = map.value("m_show").toBool();
    // An empty log root would put the run folders at the top of the file system.
    const QVariant logRoot = map.value("m_path");
    s.m_path = logRoot.userType() == QMetaType::QString && !logRoot.toString().isEmpty()
        ? logRoot.toString()
        : HostSettings::defaults(appDir).m_path;
    s.m_longitude = map.value("m_longitude").toDouble();
    s.m_latitude = map.value("m_latitude").toDouble();
    return s;
}

bool writeSettingsFile(const QString& appDir, const HostSettings& s)
{
    QVariantMap map;
    map["mUdpBroadcast"] = s.mUdpBroadcast;
    map["mAutoUI"] = s.mAutoUI;
    map["mFontSize"] = s.mFontSize;
    map["m_time"] = s.m_time;
    map["m_save"] = s.m_save;
    map["m_info"] = s.m_info;
    map["m_show"] = s.m_show;
    map["m_path"] = s.m_path;
    map["m_longitude"] = s.m_longitude;
    map["m_latitude"] = s.m_latitude;

    const QByteArray utf8 = Json::serialize(map);
    if (utf8.isNull())
        return false;
    // The reader decodes with the locale's codec; fall back to the UTF-8 bytes
    // when the text has no form in it.
    const QString text = QString::fromUtf8(utf8);
    QByteArray local = text.toLocal8Bit();
    if (QString::fromLocal8Bit(local) != text)
        local = utf8;

    // Written beside and renamed over the old file, so an interrupted write
    // leaves the previous settings rather than an empty file. A folder that
    // takes no new files may still hold a writable config.ini: then the file
    // is rewritten in place.
    const QString path = settingsFilePath(appDir);
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    const bool saved =
        file.open(QIODevice::WriteOnly | QIODevice::Text) && file.write(local) == local.size() && file.commit();
    // Every option change saves; one line per spell of failures is enough.
    static std::atomic<bool> failureReported{false};
    if (saved) {
        failureReported = false;
    } else if (!failureReported.exchange(true)) {
        logDefault(LogWarning, "Settings cannot be saved to %s: %s.", qPrintable(QDir::toNativeSeparators(path)),
                   qPrintable(file.errorString()));
    }
    return saved;
}
