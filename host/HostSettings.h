#pragma once

#include <QString>

// The user's choices kept in "config.ini" (one JSON object despite the name).
struct HostSettings {
    bool mAutoUI = false;
    int mFontSize = 12;
    bool mUdpBroadcast = false;
    bool m_info = false;
    double m_latitude = 22.537018;
    double m_longitude = 113.95364;
    QString m_path;
    bool m_save = false;
    bool m_show = false;
    bool m_time = true;

    // The values of a first start; the log root sits under appDir (under the
    // user's data folder when appDir is the installed program's settings folder).
    static HostSettings defaults(const QString& appDir);
};

QString settingsFilePath(const QString& appDir);

// A real settings file is a few hundred bytes; a larger one is not read.
constexpr qint64 MaxSettingsFileBytes = 1024 * 1024;

// A missing, unreadable, empty or unparsable file, or one that holds anything
// but a JSON object, gives the defaults; so does a file over the size limit,
// with one console line. An object gives what it holds, and the empty value of
// its type for each missing key, except the log root: missing, empty or not
// text, it is the default one.
HostSettings readSettingsFile(const QString& appDir);

// Rewrites the file whole; false when it could not be saved. The first of a
// run of failed saves says so on the console; the next option change tries again.
bool writeSettingsFile(const QString& appDir, const HostSettings& settings);
