#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <map>

// Trace and datagram logs below the save path: one dated folder per log,
// named when a save path is taken in. Each log stays open while it is
// recorded and every record goes to the system in one write, so a reader can
// tail the files and a crash loses nothing written before it. Every record is
// written whole or not at all: a failed or short write is cut back to the end
// of the last whole record, so a full disk loses records but never leaves
// half a line. A log or dated folder removed during a run is made again.
class Recorder {
public:
    using Clock = std::function<QDateTime()>; // local time

    explicit Recorder(Clock clock = &QDateTime::currentDateTime);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Takes in the dialog's folders (new dated log paths when they changed) and
    // the Clear trace toggle: any flip calls clearDrawn and empties the trace log.
    void refresh(const QString& traceDir, const QString& udpDir, bool clearToggle,
                 const std::function<void()>& clearDrawn);

    // Closes both logs (the end of a run); the next record opens its log again.
    void closeFiles();
    // Closes the logs whose recording was switched off.
    void closeUnused(bool traceOn, bool udpOn);

    // Appends "[hh:mm:ss.zzz]\tx:..,y:..,z:.." to trace.txt, or with a tag to
    // trace_<tag>.txt beside it (the other aircraft of the view; the tag must
    // be a safe file name).
    void writeTrace(double x, double y, double z, const QString& tag = QString());
    // Closes one aircraft's trace log (the end of its run).
    void closeTrace(const QString& tag);
    // Closes the datagram log (no aircraft runs any more).
    void closeDatagrams();
    // Appends "[hh:mm:ss.zzz]\t" and the datagram up to its first NUL byte, on
    // one line: raw line breaks inside strings are escaped, others become blanks.
    void writeDatagram(const QByteArray& datagram);

    QString mTraceDirSeen; // the trace folder mTraceFilePath was built for
    QString mTraceFilePath; // current trace log
    QString mTraceFileMade; // the trace log whose folder was last created
    QString mUdpDirSeen;
    QString mUdpFilePath;
    QString mUdpFileMade;

private:
    // What went wrong with one log since its last whole record. A failure is
    // said once when it starts; the records it cost are counted and said when
    // the log can be written again or is left.
    struct Losses {
        bool failing = false;
        int lost = 0;
        QString reason;
    };
    struct Log {
        int fd = -1; // open from the first record until closed
        Losses losses;
    };

    // dir + "/[yyyy-MM-dd,hh_mm_ss]//" + name; the file system reads "//" as one.
    QString datedFile(const QString& dir, const char* name) const;
    void append(const QString& path, QString& made, Log& log, const QByteArray& line);
    // The record went whole into path (opened as fd, or opened here); false
    // with the reason otherwise.
    bool writeRecord(const QString& path, bool firstRecord, int& fd, const QByteArray& line, QString& reason,
                     bool& folderMissing);
    static void endLosses(const QString& path, Losses& losses);
    static void closeLog(const QString& path, Log& log);
    void closeTaggedTraces();
    QByteArray timestamp() const;

    Clock mClock;
    bool mClearSeen = false;
    Log mTrace;
    Log mUdp;
    // The other aircraft's trace logs, by tag: the path they were made for and the log.
    struct TaggedLog {
        QString path;
        QString made;
        Log log;
    };
    std::map<QString, TaggedLog> mTagged;
};
