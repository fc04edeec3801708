#pragma once

#include <QString>

// The user's choices kept in "config.ini" (one JSON object despite the name).
struct HostSettings
{
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

// A missing, unreadable, empty or unparsable file gives the defaults. A file that
// parses gives what it holds, and the empty value of its type for each missing key.
HostSettings readSettingsFile(const QString& appDir);

// Rewrites the file whole. Failures are silent: the next option change tries again.
void writeSettingsFile(const QString& appDir, const HostSettings& settings);
