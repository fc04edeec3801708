#pragma once

#include <QDateTime>
#include <QString>

// Folders both programs make for their logs and recordings.
namespace Folders {

// "[yyyy-MM-dd,hh_mm_ss]" for a local time: the name of a run's log or
// recording folder, so folders sort by the time they were started.
QString datedName(const QDateTime& localTime);

// Makes the one folder level path names: a missing parent is not created, so
// a log root that went away is not brought back silently. True when the
// folder exists afterwards; otherwise error, when given, holds the errno.
bool makeOne(const QString& path, int* error = nullptr);

} // namespace Folders
