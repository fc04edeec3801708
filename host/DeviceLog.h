// Device log presentation: the aircraft's text log messages, one window (and
// optionally one file) per log type, in a folder made for the current run.
//
// Owned by the simulation object. handlePackage runs on the serial listener
// thread; everything else on the GUI thread. One lock of its own guards all
// presenter state, so the two threads never see a half-applied change, and
// callers need no other lock around these calls.
//
// Wiring in the simulation object:
//   onCommandReceived (listener):  handlePackage(package), then go on with the package
//   onLogChanged(info) (GUI):      applyOptions(info, &dialog values or nullptr),
//                                  then setBroadcast and the settings file
//   clearLogWindow / onLogClear:   clearWindows()
#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

class LogClass;
class QDateTime;
class QTime;
struct PackageProperty_V1;

// The log options the control dialog pushes; field order is part of the record.
struct LOG_INFO {
    bool save = false; // windows write their lines to their files
    bool time = true; // lines start with the local time
    bool info = false; // lines carry the message text only
    bool show = false; // the windows are visible
    QString path; // log root folder
};
Q_DECLARE_METATYPE(LOG_INFO)

// The control dialog's values the presenter uses. The presenter keeps its own
// copy, taken on the GUI thread, so the listener thread never reads dialog
// members while the GUI thread may be changing them.
struct LogDialogValues {
    int fontSize = 12;
    QString offeredLogTypes;
    QString excludedLogTypes;
};

// Log-type filter texts: entries "N" or "low-high", each followed by a comma.
// The text every log type is offered with.
QString allLogTypes();
// Entries from the front up to each comma; stops at the first empty entry or
// at a remainder without its comma.
QStringList logTypeEntries(const QString& text);
// Offered matches minus excluded matches; the window of logType is enabled
// when this is above zero.
int logFilterCount(int logType, const QString& offered, const QString& excluded);
// The excluded text after the list item `entry` was checked or unchecked.
QString includeLogTypeEntry(const QString& excluded, const QString& entry);
QString excludeLogTypeEntry(const QString& excluded, const QString& entry);

class DeviceLog {
public:
    // Makes appDir + "/LOG_FILES/" (appDir without trailing slash; the user's
    // data folder instead when appDir is the installed program's settings
    // folder); the run folder starts there until the first applyOptions.
    explicit DeviceLog(const QString& appDir);
    // Forgets the windows without destroying them: they live as long as the process.
    ~DeviceLog();
    DeviceLog(const DeviceLog&) = delete;
    DeviceLog& operator=(const DeviceLog&) = delete;

    // Listener thread, for every received package. Returns true when it was a
    // device log package and was presented; the caller goes on with the
    // package either way.
    bool handlePackage(const PackageProperty_V1* package);

    // GUI thread, from onLogChanged: takes the options and the dialog's values
    // (null when there is no dialog), picks a new run folder when the log root
    // changed, and re-applies font size, visibility and filter to every window.
    // Broadcast and settings file are the caller's part.
    void applyOptions(const LOG_INFO& info, const LogDialogValues* dialog);
    // GUI thread: the dialog's values without an option change, e.g. right
    // after the dialog is built, so early windows get its filter and font.
    void setDialogValues(const LogDialogValues* dialog);
    // GUI thread: empties every window.
    void clearWindows();

    LOG_INFO logInfo() const;
    QString logDir() const; // this run's folder, ending with "/"
    QString logDirMade() const; // the run folder last created on disk
    LogClass* window(int logType) const; // null before its first package

    // One window line for a device log package; now is the local time to show.
    static QString formatLine(const PackageProperty_V1* package, bool time, bool info, const QTime& now);
    // root + "/[yyyy-MM-dd,hh_mm_ss]/".
    static QString runFolder(const QString& root, const QDateTime& now);

private:
    LogClass* createWindow(int logType);
    void enableByFilter(int logType, LogClass* window);

    mutable std::mutex mLock;
    std::map<int, LogClass*> mLogWindows;
    LOG_INFO mLogInfo;
    QString mLogDir;
    QString mLogDirMade;
    std::optional<LogDialogValues> mDialog;
};
