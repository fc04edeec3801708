#include "viewer/app/Recorder.h"

#include "common/Json.h"
#include "tests/common/QtPrint.h"
#include "tests/viewer/ConsoleCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

namespace {

using viewer_test::ConsoleCapture;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class RecordTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QDateTime now{QDate(2015, 7, 9), QTime(14, 5, 3)};
    Recorder rec{[this] { return now; }};
    int cleared = 0;

    QString savePath() const { return tmp.path() + "/"; }
    QString traceDir() const { return savePath() + "/TRACE_FILES/"; }
    QString udpDir() const { return savePath() + "/UDP_FILES/"; }
    void refresh(bool toggle = false)
    {
        rec.refresh(traceDir(), udpDir(), toggle, [this] { ++cleared; });
    }
    QStringList entries(const QString& dir) const
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

TEST_F(RecordTest, PathsAreNamedAfterTheTimeTheFoldersWereTakenIn)
{
    refresh();
    EXPECT_EQ(rec.mTraceFilePath, tmp.path() + "//TRACE_FILES//[2015-07-09,14_05_03]//trace.txt");
    EXPECT_EQ(rec.mUdpFilePath, tmp.path() + "//UDP_FILES//[2015-07-09,14_05_03]//udp.txt");
    // Without a line only the two top folders exist.
    EXPECT_EQ(entries(tmp.path()), QStringList({"TRACE_FILES", "UDP_FILES"}));
    EXPECT_TRUE(entries(traceDir()).isEmpty());
    EXPECT_TRUE(entries(udpDir()).isEmpty());
}

TEST_F(RecordTest, LinesAreAppendedInTheirFormats)
{
    refresh();
    now = QDateTime(QDate(2015, 7, 9), QTime(14, 5, 7, 250));
    rec.writeTrace(1.5, -2.25, 10);
    now = now.addMSecs(5);
    rec.writeTrace(0, 0.0000004, -1e6);
    rec.writeDatagram(QByteArray("{ \"Yaw\" : 0.5 }"));
    rec.writeDatagram(QByteArray("{ \"a\" : 1 }\0tail", 16));

    EXPECT_EQ(readAll(rec.mTraceFilePath),
              "[14:05:07.250]\tx:1.500000,y:-2.250000,z:10.000000\n"
              "[14:05:07.255]\tx:0.000000,y:0.000000,z:-1000000.000000\n");
    EXPECT_EQ(readAll(rec.mUdpFilePath),
              "[14:05:07.255]\t{ \"Yaw\" : 0.5 }\n"
              "[14:05:07.255]\t{ \"a\" : 1 }\n");
}

// The other aircraft of a fleet view write their traces beside trace.txt, in its format.
TEST_F(RecordTest, EachFurtherAircraftHasItsOwnTraceBesideTheFirst)
{
    refresh();
    rec.writeTrace(1, 2, 3);
    rec.writeTrace(4, 5, 6, "10.0.0.2");
    rec.writeTrace(7, 8, 9, "10.0.0.1_4001");
    const QString folder = QFileInfo(rec.mTraceFilePath).path();
    EXPECT_EQ(entries(folder), QStringList({"trace.txt", "trace_10.0.0.1_4001.txt", "trace_10.0.0.2.txt"}));
    EXPECT_EQ(readAll(folder + "/trace_10.0.0.2.txt"), "[14:05:03.000]\tx:4.000000,y:5.000000,z:6.000000\n");

    // One aircraft's run ends; its log opens again with its next record, the others stay.
    rec.closeTrace("10.0.0.2");
    rec.writeTrace(1, 1, 1, "10.0.0.2");
    EXPECT_EQ(readAll(folder + "/trace_10.0.0.2.txt").count('\n'), 2);
    refresh(true); // Clear trace empties every trace log
    for (const QString& name : entries(folder))
        EXPECT_TRUE(readAll(folder + "/" + name).isEmpty()) << qPrintable(name);
}

TEST_F(RecordTest, ClearTraceTruncatesOnEveryFlipAndNeverCreatesTheLog)
{
    refresh();
    refresh(true); // before any line: the folder does not exist, nothing appears
    EXPECT_EQ(cleared, 1);
    EXPECT_FALSE(QFile::exists(rec.mTraceFilePath));
    EXPECT_TRUE(entries(traceDir()).isEmpty());

    rec.writeTrace(1, 2, 3);
    ASSERT_FALSE(readAll(rec.mTraceFilePath).isEmpty());
    refresh(true); // no flip
    EXPECT_EQ(cleared, 1);
    EXPECT_FALSE(readAll(rec.mTraceFilePath).isEmpty());
    refresh(false); // flip back also clears
    EXPECT_EQ(cleared, 2);
    EXPECT_EQ(readAll(rec.mTraceFilePath), "");

    rec.writeTrace(4, 5, 6); // the same file goes on
    EXPECT_TRUE(readAll(rec.mTraceFilePath).startsWith("[14:05:03.000]\tx:4.000000"));
}

TEST_F(RecordTest, ANewSavePathStartsNewDatedFolders)
{
    refresh();
    rec.writeTrace(1, 1, 1);
    rec.writeDatagram("{}");
    const QString oldTrace = rec.mTraceFilePath;

    ASSERT_TRUE(QDir(tmp.path()).mkdir("other"));
    now = now.addSecs(75);
    const QString other = tmp.path() + "/other/";
    rec.refresh(other + "/TRACE_FILES/", other + "/UDP_FILES/", false, {});
    EXPECT_EQ(rec.mTraceFilePath, other + "/TRACE_FILES//[2015-07-09,14_06_18]//trace.txt");
    rec.writeTrace(2, 2, 2);
    rec.writeDatagram("{}");
    EXPECT_TRUE(QFile::exists(rec.mTraceFilePath));
    EXPECT_TRUE(QFile::exists(rec.mUdpFilePath));
    EXPECT_TRUE(readAll(oldTrace).startsWith("[14:05:03.000]\tx:1.000000"));
}

TEST_F(RecordTest, EachDatagramStaysOneLineAndReadsBackTheSame)
{
    refresh();
    const QByteArray datagrams[] = {
        "{\"Note\":\"two\nlines\",\"Yaw\":0.5}",
        "{\r\n  \"Roll\" : 1,\r\n  \"Text\" : \"a\r\nb\"\r\n}\r\n",
        "{\"Quote\":\"say \\\"hi\\\"\n\",\n\"Back\":\"\\\\\"\n}",
        "{\"Forged\":\"x\n[14:05:03.000]\t{\\\"Roll\\\":9}\"}",
    };
    for (const QByteArray& d : datagrams)
        rec.writeDatagram(d);
    const QList<QByteArray> lines = readAll(rec.mUdpFilePath).split('\n');
    ASSERT_EQ(lines.size(), 5) << readAll(rec.mUdpFilePath).constData();
    EXPECT_EQ(lines[0], "[14:05:03.000]\t{\"Note\":\"two\\nlines\",\"Yaw\":0.5}");
    EXPECT_EQ(lines[1], "[14:05:03.000]\t{    \"Roll\" : 1,    \"Text\" : \"a\\r\\nb\"  }  ");
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        bool okRaw = false, okLine = false;
        const QVariant raw = Json::parse(QString::fromUtf8(datagrams[i]), okRaw);
        const QVariant line = Json::parse(QString::fromUtf8(lines[i].mid(lines[i].indexOf('\t') + 1)), okLine);
        ASSERT_TRUE(okRaw && okLine);
        EXPECT_EQ(line, raw);
    }
}

TEST_F(RecordTest, FolderAndFileErrorsOnlyLoseTheLine)
{
    ConsoleCapture console;
    // Never refreshed: no path at all.
    rec.writeTrace(1, 2, 3);
    rec.writeDatagram("{}");
    // A parent that does not exist is not created.
    const QString missing = tmp.path() + "/no/such/";
    rec.refresh(missing + "/TRACE_FILES/", missing + "/UDP_FILES/", true, {});
    rec.writeTrace(1, 2, 3);
    rec.writeDatagram("{}");
    rec.writeTrace(1, 2, 3);
    EXPECT_FALSE(QDir(tmp.path() + "/no").exists());
    // Said once for each folder that could not be made, naming it.
    const QStringList said = ConsoleCapture::lines();
    for (const QString& folder : {missing + "/TRACE_FILES/", missing + "/UDP_FILES/",
                                  rec.mTraceFilePath.left(rec.mTraceFilePath.lastIndexOf('/') + 1),
                                  rec.mUdpFilePath.left(rec.mUdpFilePath.lastIndexOf('/') + 1)})
        EXPECT_EQ(said.filter(folder + ";").size(), 1) << folder.toStdString() << "\n" << said.join('\n').toStdString();
    EXPECT_EQ(said.size(), 4);

    console.lines().clear();
    const QString lostTrace = rec.mTraceFilePath;
    const QString lostUdp = rec.mUdpFilePath;
    refresh();
    rec.writeTrace(1, 2, 3);
    // Leaving the logs says what they lost; folders that exist or could be made say nothing.
    EXPECT_EQ(ConsoleCapture::lines(),
              QStringList({"The recording " + lostTrace + " lost 2 records (No such file or directory).",
                           "The recording " + lostUdp + " lost 1 record (No such file or directory)."}));
}

// A file system that takes part of a record and then refuses the rest, as a
// full disk does: here the process's file size limit, which needs no mount.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &mSaved);
        mSavedSignal = std::signal(SIGXFSZ, SIG_IGN);
        set(bytes);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &mSaved);
        std::signal(SIGXFSZ, mSavedSignal);
    }
    void set(rlim_t bytes) const
    {
        rlimit limit = mSaved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    void lift() const { setrlimit(RLIMIT_FSIZE, &mSaved); }

private:
    rlimit mSaved = {};
    void (*mSavedSignal)(int) = nullptr;
};

TEST_F(RecordTest, ARecordThatDoesNotFitIsCutBackAndItsLossesAreCounted)
{
    ConsoleCapture console;
    refresh();
    const QByteArray datagram = "{\"Yaw\":1.690000,\"WorldX\":12.5,\"WorldY\":-3.25}";
    const QByteArray line = "[14:05:03.000]\t" + datagram + "\n";
    rec.writeDatagram(datagram);
    rec.writeTrace(1, 2, 3);
    const QByteArray udpBefore = readAll(rec.mUdpFilePath);
    const QByteArray traceBefore = readAll(rec.mTraceFilePath);
    ASSERT_EQ(udpBefore, line);
    {
        // Room for half a datagram line more; the trace line fits only in part too.
        FileSizeLimit limit(rlim_t(udpBefore.size() + line.size() / 2));
        for (int i = 0; i < 3; ++i) {
            rec.writeDatagram(datagram);
            rec.writeTrace(4, 5, 6);
        }
        EXPECT_EQ(readAll(rec.mUdpFilePath), udpBefore) << "only whole records stay";
        EXPECT_EQ(readAll(rec.mTraceFilePath), traceBefore);
        EXPECT_EQ(ConsoleCapture::lines(),
                  QStringList({"Cannot write the recording " + rec.mUdpFilePath +
                                   ": File too large; its records are lost until it can be written again.",
                               "Cannot write the recording " + rec.mTraceFilePath +
                                   ": File too large; its records are lost until it can be written again."}));
        console.lines().clear();
        limit.lift();
        rec.writeDatagram(datagram);
        rec.writeTrace(7, 8, 9);
    }
    EXPECT_EQ(readAll(rec.mUdpFilePath), udpBefore + line);
    EXPECT_EQ(readAll(rec.mTraceFilePath), traceBefore + "[14:05:03.000]\tx:7.000000,y:8.000000,z:9.000000\n");
    EXPECT_EQ(ConsoleCapture::lines(),
              QStringList({"The recording " + rec.mUdpFilePath + " lost 3 records (File too large).",
                           "The recording " + rec.mTraceFilePath + " lost 3 records (File too large)."}));
}

TEST_F(RecordTest, AFullDeviceLosesRecordsWithOneLineUntilTheLogIsLeft)
{
    refresh();
    rec.writeDatagram("{}");
    const QString path = rec.mUdpFilePath;
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::link("/dev/full", path));
    {
        ConsoleCapture console;
        for (int i = 0; i < 5; ++i)
            rec.writeDatagram("{}");
        EXPECT_EQ(ConsoleCapture::lines(),
                  QStringList({"Cannot write the recording " + path +
                               ": No space left on device; its records are lost until it can be written again."}));
        console.lines().clear();
        now = now.addSecs(1);
        rec.refresh(traceDir(), udpDir() + "other/", false, {});
        EXPECT_EQ(ConsoleCapture::lines(),
                  QStringList({"The recording " + path + " lost 5 records (No space left on device)."}));
    }
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/full")).exists());
}

TEST_F(RecordTest, AFolderRemovedDuringTheRunIsMadeAgain)
{
    const struct {
        const char* name;
        bool logFolders; // the folders above the dated ones too
    } cases[] = {
        {"the dated folders", false},
        {"the log folders", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConsoleCapture console;
        refresh();
        rec.writeDatagram("{\"Roll\":1}");
        rec.writeTrace(1, 1, 1);
        const QString udpFolder = rec.mUdpFilePath.left(rec.mUdpFilePath.lastIndexOf('/') + 1);
        const QString traceFolder = rec.mTraceFilePath.left(rec.mTraceFilePath.lastIndexOf('/') + 1);
        if (c.logFolders) {
            ASSERT_TRUE(QDir(udpDir()).removeRecursively());
            ASSERT_TRUE(QDir(traceDir()).removeRecursively());
        } else {
            ASSERT_TRUE(QDir(udpFolder).removeRecursively());
            ASSERT_TRUE(QDir(traceFolder).removeRecursively());
        }
        rec.writeDatagram("{\"Roll\":2}");
        rec.writeTrace(2, 2, 2);
        rec.writeDatagram("{\"Roll\":3}");
        const QByteArray stamp = now.time().toString("[hh:mm:ss.zzz]\t").toLatin1();
        EXPECT_EQ(readAll(rec.mUdpFilePath), stamp + "{\"Roll\":2}\n" + stamp + "{\"Roll\":3}\n");
        EXPECT_EQ(readAll(rec.mTraceFilePath), stamp + "x:2.000000,y:2.000000,z:2.000000\n");
        EXPECT_EQ(ConsoleCapture::lines(),
                  QStringList({"The recording folder " + udpFolder + " had gone; it was made again.",
                               "The recording folder " + traceFolder + " had gone; it was made again."}));
        // The next case starts from fresh folders.
        now = now.addSecs(1);
        ASSERT_TRUE(QDir(tmp.path()).removeRecursively() && QDir().mkpath(tmp.path()));
        rec.refresh(QString(), QString(), false, {});
    }
}

} // namespace

namespace {
// This process's descriptors open on files below dir.
int openFilesBelow(const QString& dir)
{
    int open = 0;
    const QString canonical = QFileInfo(dir).canonicalFilePath() + "/";
    for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::Files | QDir::System))
        open += fd.symLinkTarget().startsWith(canonical);
    return open;
}
} // namespace

TEST_F(RecordTest, LogsStayOpenWhileRecordedAndCloseWhenLeft)
{
    refresh();
    for (int i = 0; i < 50; ++i) {
        rec.writeDatagram("{}");
        rec.writeTrace(1, 2, 3);
    }
    EXPECT_EQ(openFilesBelow(tmp.path()), 2) << "one descriptor per log, not one per record";
    EXPECT_EQ(readAll(rec.mUdpFilePath).count('\n'), 50) << "every record reached the file as it was written";

    rec.closeUnused(true, false);
    EXPECT_EQ(openFilesBelow(tmp.path()), 1);
    rec.writeTrace(4, 5, 6);
    rec.closeFiles();
    EXPECT_EQ(openFilesBelow(tmp.path()), 0);

    // A closed log goes on in the same file.
    rec.writeDatagram("{\"Roll\":1}");
    EXPECT_EQ(readAll(rec.mUdpFilePath).count('\n'), 51);
    EXPECT_EQ(readAll(rec.mTraceFilePath).count('\n'), 51);
    // A new save path leaves the old logs.
    now = now.addSecs(1);
    ASSERT_TRUE(QDir(tmp.path()).mkdir("other"));
    rec.refresh(tmp.path() + "/other/TRACE_FILES/", tmp.path() + "/other/UDP_FILES/", false, {});
    EXPECT_EQ(openFilesBelow(tmp.path()), 0);
}
