// The CSV export: the header, the time column, the runs and the window.
#include "tools/replay/ReplayExport.h"
#include "tests/tools/replay/ReplayTestFiles.h"

#include "common/StateDatagram.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace replay;
using replay_test::udpLine;

namespace {

struct Table {
    QStringList header;
    QVector<QStringList> rows;
    QString column(int row, const QString& name) const { return rows[row].value(header.indexOf(name)); }
};

class ReplayExport : public ::testing::Test {
protected:
    // Writes the recording, exports it and reads the table back.
    Table exported(const QByteArray& text, const ExportOptions& options = {})
    {
        Recording recording;
        QString error;
        EXPECT_TRUE(recording.open(files.write("udp.txt", text), error)) << error.toStdString();
        EXPECT_TRUE(exportCsv(recording, files.path("out.csv"), options, error)) << error.toStdString();
        QFile file(files.path("out.csv"));
        file.open(QIODevice::ReadOnly);
        Table t;
        const QList<QByteArray> lines = file.readAll().split('\n');
        t.header = QString::fromLatin1(lines.value(0)).split(',');
        for (int i = 1; i < lines.size(); ++i)
            if (!lines[i].isEmpty())
                t.rows.append(QString::fromLatin1(lines[i]).split(','));
        for (const QStringList& row : t.rows)
            EXPECT_EQ(t.header.size(), row.size()) << row.join(',').toStdString();
        return t;
    }
    static StateDatagram::State at(float x, int run = 1, quint32 time = 0)
    {
        StateDatagram::State s;
        s.worldX = x;
        s.worldZ = 2;
        s.velocityX = 3;
        s.velocityY = 4;
        s.motorStarted = 1;
        s.simulatorCommand = run;
        s.senderIp = "10.0.0.2";
        s.time = time;
        return s;
    }
    replay_test::RecordingFiles files;
};

TEST_F(ReplayExport, HeaderHasTimeEveryNumericKeyThenTheDerivedValues)
{
    const Table t = exported(udpLine(0, StateDatagram::encode(at(0))));
    ASSERT_GT(t.header.size(), 40);
    EXPECT_EQ("time", t.header[0]);
    EXPECT_EQ("Roll", t.header[1]);
    EXPECT_FALSE(t.header.contains("SenderIP"));
    EXPECT_EQ("PlayBackEnabled", t.header[t.header.indexOf("height") - 1]);
    EXPECT_EQ((QStringList{"height", "climb", "speed", "tilt", "distance", "roll", "pitch", "yaw"}),
              t.header.mid(t.header.indexOf("height")));
    ASSERT_EQ(1, t.rows.size());
    EXPECT_EQ("5", t.column(0, "speed"));
    EXPECT_EQ("2", t.column(0, "height"));
    EXPECT_EQ("", t.column(0, "Rpm1")) << "a key the state does not carry stays empty";
}

TEST_F(ReplayExport, StatesOfOneMillisecondKeepTheirOrderAMicrosecondApart)
{
    QByteArray text;
    const qint64 ms[] = {0, 20, 20, 20, 40};
    for (int i = 0; i < 5; ++i)
        text += udpLine(ms[i], StateDatagram::encode(at(float(i), 1, quint32(i))));
    const Table t = exported(text);
    ASSERT_EQ(5, t.rows.size());
    const char* const times[] = {"0.000000", "0.020000", "0.020001", "0.020002", "0.040000"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(times[i], t.column(i, "time"));
        EXPECT_EQ(QString::number(i), t.column(i, "Time"));
    }
}

TEST_F(ReplayExport, ARunAndAWindowInIt)
{
    QByteArray text;
    for (int i = 0; i < 5; ++i)
        text += udpLine(100 * i, StateDatagram::encode(at(float(i))));
    for (int i = 0; i < 5; ++i)
        text += udpLine(1000 + 100 * i, StateDatagram::encode(at(float(10 + i), 11)));
    const Table all = exported(text);
    EXPECT_EQ(10, all.rows.size());
    EXPECT_EQ("1.400000", all.column(9, "time"));

    const Table second = exported(text, {2, -1, -1});
    ASSERT_EQ(5, second.rows.size());
    EXPECT_EQ("0.000000", second.column(0, "time")) << "time from the run's first state";
    EXPECT_EQ("10", second.column(0, "WorldX"));
    EXPECT_EQ("0", second.column(0, "distance")) << "from the run's first position";
    EXPECT_EQ("4", second.column(4, "distance"));

    const Table window = exported(text, {2, 100, 300});
    ASSERT_EQ(3, window.rows.size());
    EXPECT_EQ("0.100000", window.column(0, "time"));
    EXPECT_EQ("1", window.column(0, "distance"));
    EXPECT_EQ("0.300000", window.column(2, "time"));

    Recording recording;
    QString error;
    ASSERT_TRUE(recording.open(files.write("runs.txt", text), error));
    EXPECT_FALSE(exportCsv(recording, files.path("x.csv"), {3, -1, -1}, error));
    EXPECT_EQ("--run 3: the recording holds 2 runs", error);
}

TEST_F(ReplayExport, TracePositionsExportTheirPosition)
{
    const Table t =
        exported(udpLine(0, "x:1.500000,y:-2.250000,z:10.000000") + udpLine(50, "x:1.500000,y:-1.250000,z:10.000000"));
    ASSERT_EQ(2, t.rows.size());
    EXPECT_EQ("-2.25", t.column(0, "WorldY"));
    EXPECT_EQ("10", t.column(1, "height"));
    EXPECT_EQ("1", t.column(1, "distance"));
}

} // namespace
