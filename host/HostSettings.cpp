#include "HostSettings.h"

#include "common/AppDirs.h"
#include "common/Json.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QVariantMap>

HostSettings HostSettings::defaults(const QString& appDir)
{
    HostSettings s;
    s.m_path = appDirsOf(appDir).dataDir + "/LOG_FILES/";
    return s;
}

QString settingsFilePath(const QString& appDir)
{
    return appDir + "/config.ini";
}

HostSettings readSettingsFile(const QString& appDir)
{
    QString text;
    QFile file(settingsFilePath(appDir));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file); // the locale's codec, as the writer uses
        text = in.readAll();
    }
    if (text.isEmpty())
        return HostSettings::defaults(appDir);

    bool ok = false;
    const QVariant parsed = Json::parse(text, ok);
    if (!ok)
        return HostSettings::defaults(appDir);

    // A top-level value that is not an object reads as an empty map.
    const QVariantMap map = parsed.type() == QVariant::Map ? parsed.toMap() : QVariantMap();
    HostSettings s;
    s.mUdpBroadcast = map.value("mUdpBroadcast").toBool();
    s.mFontSize = map.value("mFontSize").toInt();
    s.mAutoUI = map.value("mAutoUI").toBool();
    s.m_time = map.value("m_time").toBool();
    s.m_save = map.value("m_save").toBool();
    s.m_info = map.value("m_info").toBool();
    s.m_show = map.value("m_show").toBool();
    s.m_path = map.value("m_path").toString();
    s.m_longitude = map.value("m_longitude").toDouble();
    s.m_latitude = map.value("m_latitude").toDouble();
    return s;
}

void writeSettingsFile(const QString& appDir, const HostSettings& s)
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
        return;
    // The reader decodes with the locale's codec; fall back to the UTF-8 bytes
    // when the text has no form in it.
    const QString text = QString::fromUtf8(utf8);
    QByteArray local = text.toLocal8Bit();
    if (QString::fromLocal8Bit(local) != text)
        local = utf8;

    // Written beside and renamed over the old file, so an interrupted write
    // leaves the previous settings rather than an empty file.
    QSaveFile file(settingsFilePath(appDir));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    file.write(local);
    file.commit();
}
