#include "app/Recorder.h"

#include "common/Json.h"
#include "common/QtPrint.h"
#include "tests/viewer/ConsoleCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    refresh();
    rec.writeTrace(1, 2, 3);
    EXPECT_TRUE(ConsoleCapture::lines().isEmpty()) << "folders that exist or could be made";
}

} // namespace
