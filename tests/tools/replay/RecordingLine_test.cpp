#include "tools/replay/RecordingLine.h"
#include "tools/replay/Recording.h"

#include "tests/tools/replay/ReplayTestFiles.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace replay;
using replay_test::RecordingFiles;
using replay_test::udpLine;

namespace {

struct LineCase {
    const char* name;
    QByteArray line;
    const char* why; // nullptr: a state
    qint64 timeOfDayMs;
    LineKind kind;
    QByteArray payload;
    double worldZ;
};

TEST(RecordingLine, ReadsStampsAndDatagramsAndSaysWhyALineIsSkipped)
{
    const QByteArray nul("[10:00:00.000]\t{\"WorldZ\":2}\0garbage", 36);
    const LineCase cases[] = {
        {"datagram", "[14:05:07.250]\t{\"Roll\":0.5,\"WorldZ\":3}", nullptr, 50707250, LineKind::Datagram,
         "{\"Roll\":0.5,\"WorldZ\":3}", 3},
        {"crlf", "[00:00:00.001]\t{\"WorldZ\":-1.5}\r", nullptr, 1, LineKind::Datagram, "{\"WorldZ\":-1.5}", -1.5},
        {"last second of the day", "[23:59:59.999]\t{}", nullptr, 86399999, LineKind::Datagram, "{}", 0},
        {"nul ends the datagram", nul, nullptr, 36000000, LineKind::Datagram, "{\"WorldZ\":2}", 2},
        {"trace", "[14:05:07.250]\tx:1.500000,y:-2.250000,z:10.000000", nullptr, 50707250, LineKind::TracePosition,
         "x:1.500000,y:-2.250000,z:10.000000", 10},
        {"trace crlf", "[14:05:07.250]\tx:1.000000,y:2.000000,z:3.000000\r", nullptr, 50707250, LineKind::TracePosition,
         "x:1.000000,y:2.000000,z:3.000000", 3},
        {"lenient codec text", "[10:00:00.000]\t { \"WorldZ\" : 4 \"Roll\":1 }", nullptr, 36000000, LineKind::Datagram,
         " { \"WorldZ\" : 4 \"Roll\":1 }", 4},
        {"escaped string", "[10:00:00.000]\t{\"SenderIP\":\"a\\\"b\",\"WorldZ\":5}", nullptr, 36000000,
         LineKind::Datagram, "{\"SenderIP\":\"a\\\"b\",\"WorldZ\":5}", 5},
        {"infinite number reads as 0", "[10:00:00.000]\t{\"WorldZ\":1e999}", nullptr, 36000000, LineKind::Datagram,
         "{\"WorldZ\":1e999}", 0},
        {"empty", "", "empty line", 0, LineKind::Datagram, "", 0},
        {"cr only", "\r", "empty line", 0, LineKind::Datagram, "", 0},
        {"no stamp", "{\"WorldZ\":1}", "no time stamp", 0, LineKind::Datagram, "", 0},
        {"nul line", QByteArray(8, '\0'), "empty line", 0, LineKind::Datagram, "", 0},
        {"hour 24", "[24:00:00.000]\t{}", "bad time stamp", 0, LineKind::Datagram, "", 0},
        {"minute 60", "[10:60:00.000]\t{}", "bad time stamp", 0, LineKind::Datagram, "", 0},
        {"short millis", "[10:00:00.00]\t{}", "bad time stamp", 0, LineKind::Datagram, "", 0},
        {"letters", "[1a:00:00.000]\t{}", "bad time stamp", 0, LineKind::Datagram, "", 0},
        {"truncated stamp", "[10:00", "bad time stamp", 0, LineKind::Datagram, "", 0},
        {"space for tab", "[10:00:00.000] {}", "no tab after the time stamp", 0, LineKind::Datagram, "", 0},
        {"stamp only", "[10:00:00.000]\t", "no datagram after the time stamp", 0, LineKind::Datagram, "", 0},
        {"cut datagram", "[10:00:00.000]\t{\"Roll\":0.5,\"Pi", "datagram does not parse", 0, LineKind::Datagram, "", 0},
        {"array", "[10:00:00.000]\t[1,2]", "datagram is not an object", 0, LineKind::Datagram, "", 0},
        {"bad position", "[10:00:00.000]\tx:1.0,y:2.0", "position does not parse", 0, LineKind::Datagram, "", 0},
        {"nan position", "[10:00:00.000]\tx:nan,y:0,z:0", "position does not parse", 0, LineKind::Datagram, "", 0},
        {"too long", "[10:00:00.000]\t{\"a\":\"" + QByteArray(MaxPayload, 'x') + "\"}",
         "datagram longer than UDP carries", 0, LineKind::Datagram, "", 0},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedLine line = parseLine(c.line.constData(), c.line.size());
        if (c.why) {
            EXPECT_FALSE(line.ok);
            EXPECT_STREQ(c.why, line.why);
            continue;
        }
        ASSERT_TRUE(line.ok) << line.why;
        EXPECT_EQ(c.timeOfDayMs, line.timeOfDayMs);
        EXPECT_EQ(c.kind, line.kind);
        EXPECT_EQ(c.payload, c.line.mid(line.payloadStart, line.payloadLength));
        EXPECT_DOUBLE_EQ(c.worldZ, line.values.worldZ);
    }
}

TEST(RecordingLine, EarlierStampsWrapPastMidnightOnlyWhenMoreThanHalfADayEarlier)
{
    const struct {
        qint64 previous, current, gap;
    } cases[] = {
        {1000, 1250, 250},
        {1000, 1000, 0},
        {DayMs - 10, 5, 15}, // 23:59:59.990 -> 00:00:00.005
        {13 * 3600000LL, 3600000LL, 0}, // exactly 12 h earlier: no gap
        {13 * 3600000LL, 3600000LL - 1, 12 * 3600000LL - 1}, // 1 ms more: past midnight
        {10 * 3600000LL, 9 * 3600000LL, 0}, // clock set back an hour: no gap
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.gap, stampGap(c.previous, c.current)) << c.previous << " -> " << c.current;
}

TEST(RecordingLine, ValuesOfTheFlatAndTheCodecPathAgree)
{
    const QByteArray flat =
        "[10:00:00.000]\t{\"Roll\":0.5,\"Pitch\":-0.25,\"Yaw\":1.5,\"WorldX\":1,\"WorldY\":2,"
        "\"WorldZ\":3,\"VelocityX\":0.5,\"VelocityY\":-4,\"ProductType\":258,\"SimulatorCommand\":7}";
    QByteArray spaced = flat;
    spaced.replace(",", " , ");
    for (const QByteArray& text : {flat, spaced}) {
        const ParsedLine line = parseLine(text.constData(), text.size());
        ASSERT_TRUE(line.ok);
        const StateValues& v = line.values;
        EXPECT_EQ(0.5, v.roll);
        EXPECT_EQ(-0.25, v.pitch);
        EXPECT_EQ(1.5, v.yaw);
        EXPECT_EQ(1, v.worldX);
        EXPECT_EQ(2, v.worldY);
        EXPECT_EQ(3, v.worldZ);
        EXPECT_EQ(0.5, v.velocityX);
        EXPECT_EQ(-4, v.velocityY);
        EXPECT_EQ(2, v.productType); // low 8 bits, as the visualiser keeps them
        EXPECT_EQ(7, v.simulatorCommand);
    }
}

TEST(RecordingLine, EveryNumberReadsAsTheCodecReadsIt)
{
    const QByteArray ones = "1" + QByteArray(30000, '0');
    const QByteArray numbers[] = {"2.5",
                                  "-7",
                                  "1e5",
                                  "1e400",
                                  ones,
                                  "-" + ones,
                                  ones + ".5",
                                  "0." + QByteArray(400, '0') + "1",
                                  "123456789012345678901234567890",
                                  "1.00000000000000011102230246251565404236316680908203125",
                                  "12-3",
                                  "1e",
                                  "-",
                                  "\"5\"",
                                  "\"abc\"",
                                  "true",
                                  "null"};
    for (const QByteArray& number : numbers) {
        SCOPED_TRACE(number.left(40).toStdString());
        const QByteArray flat = "[10:00:00.000]\t{\"WorldZ\":" + number + "}";
        const QByteArray spaced = "[10:00:00.000]\t{ \"WorldZ\" : " + number + " }"; // left to the codec
        const ParsedLine a = parseLine(flat.constData(), flat.size());
        const ParsedLine b = parseLine(spaced.constData(), spaced.size());
        ASSERT_TRUE(a.ok && b.ok);
        EXPECT_EQ(b.values.worldZ, a.values.worldZ);
    }
    // A value the codec does not take as a number leaves the whole datagram to it.
    const QByteArray plus = "[10:00:00.000]\t{\"WorldZ\":+5}";
    EXPECT_STREQ("datagram does not parse", parseLine(plus.constData(), plus.size()).why);
}

TEST(Recording, IndexesStatesAcrossMidnightAndCountsSkippedLines)
{
    RecordingFiles files;
    QByteArray text = "[23:59:59.900]\t{\"WorldZ\":1,\"VelocityX\":3,\"VelocityY\":4}\r\n"
                      "no stamp here\r\n"
                      "\r\n"
                      "[23:59:59.950]\t{\"WorldZ\":5,\"WorldX\":3,\"WorldY\":4}\r\n"
                      "[00:00:00.050]\t{\"WorldZ\":2,\"WorldX\":3,\"WorldY\":4}\r\n"
                      "[00:00:00.040]\t{\"WorldZ\":2}\r\n" // 10 ms back: no gap
                      "[99:00:00.000]\t{}\r\n"
                      "[00:00:00.100]\t{\"WorldZ\":2,\"WorldX\":3,\"WorldY\":4}"; // no line end at the end
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error)) << error.toStdString();
    ASSERT_EQ(5, r.count());
    const qint64 times[] = {0, 50, 150, 150, 210};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(times[i], r.timeMs(i)) << i;
    EXPECT_EQ(210, r.durationMs());
    EXPECT_EQ("{\"WorldZ\":5,\"WorldX\":3,\"WorldY\":4}", r.payload(1));
    EXPECT_EQ("{\"WorldZ\":2,\"WorldX\":3,\"WorldY\":4}", r.payload(4));
    EXPECT_EQ("3 lines skipped: line 2: no time stamp, line 3: empty line, line 7: bad time stamp",
              r.skippedText().toStdString());

    const FlightStats& s = r.stats();
    EXPECT_EQ(5, s.states);
    EXPECT_EQ(5, s.maxHeight);
    EXPECT_EQ(5, s.maxHorizontalSpeed);
    // (0,0) -> (3,4) -> (3,4) -> back to (0,0) -> (3,4): 15
    EXPECT_DOUBLE_EQ(15, s.horizontalDistance);

    EXPECT_EQ(0, r.indexAt(-5));
    EXPECT_EQ(0, r.indexAt(49));
    EXPECT_EQ(1, r.indexAt(50));
    EXPECT_EQ(3, r.indexAt(150)); // the last of equal times
    EXPECT_EQ(4, r.indexAt(100000));
    EXPECT_EQ(2, r.firstFrom(150)); // the first of equal times
    EXPECT_EQ(2, r.firstFrom(51));
    EXPECT_EQ(5, r.firstFrom(211));
}

TEST(Recording, TracePositionsGiveHeightAndSpeedFromTheirSteps)
{
    RecordingFiles files;
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("trace.txt",
                                   "[10:00:00.000]\tx:0.000000,y:0.000000,z:1.000000\n"
                                   "[10:00:00.500]\tx:3.000000,y:4.000000,z:2.500000\n"
                                   "[10:00:01.000]\tx:3.000000,y:4.000000,z:2.000000\n"),
                       error));
    ASSERT_EQ(3, r.count());
    EXPECT_EQ(LineKind::TracePosition, r.kind(0));
    EXPECT_EQ("x:3.000000,y:4.000000,z:2.500000", r.payload(1));
    EXPECT_EQ(2.5, r.stats().maxHeight);
    EXPECT_DOUBLE_EQ(10, r.stats().maxHorizontalSpeed);
    EXPECT_DOUBLE_EQ(5, r.stats().horizontalDistance);
    EXPECT_EQ(3, r.stats().traceStates);
}

TEST(Recording, FilesWithoutAStateAreRefusedWithTheReason)
{
    RecordingFiles files;
    const struct {
        QString path;
        const char* says;
    } cases[] = {
        {files.write("empty.txt", ""), "holds no state"},
        {files.write("junk.txt", "hello\n\n[10:00:00.000]\t{\n"),
         "holds no state (3 lines skipped: line 1: no time stamp, line 2: empty line, line 3: datagram does not parse)"},
        {files.path("missing.txt"), "cannot open"},
        {files.path(""), "is a folder"},
        {"/dev/zero", "not a regular file"},
    };
    for (const auto& c : cases) {
        Recording r;
        QString error;
        EXPECT_FALSE(r.open(c.path, error)) << c.path.toStdString();
        EXPECT_TRUE(error.contains(c.says)) << error.toStdString();
    }
}

TEST(Recording, LinesLongerThanTheReadBufferAreSkippedWithoutHoldingThem)
{
    RecordingFiles files;
    QByteArray text = udpLine(0, "{\"WorldZ\":1}");
    text += "[10:00:00.010]\t{\"a\":\"" + QByteArray(3 << 20, 'x') + "\"}\n"; // 3 MiB, across read chunks
    text += udpLine(20, "{\"WorldZ\":2}");
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    ASSERT_EQ(2, r.count());
    EXPECT_EQ(20, r.timeMs(1));
    EXPECT_EQ("{\"WorldZ\":2}", r.payload(1));
    EXPECT_EQ("1 line skipped: line 2: datagram longer than UDP carries", r.skippedText().toStdString());
}

// Lines, then length bytes that were never written (a hole: NULs without a line end), then more lines.
QString withHole(RecordingFiles& files, const QByteArray& before, qint64 length, const QByteArray& after)
{
    const QString path = files.write("sparse.txt", before);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_TRUE(file.resize(before.size() + length));
    EXPECT_TRUE(file.seek(before.size() + length));
    file.write(after);
    return path;
}

TEST(Recording, AFileMostlyNeverWrittenOpensWithAnIndexOfWhatItHolds)
{
    // 200 GB long, 1.1 MB of lines: the index is sized by the lines, not by the length.
    RecordingFiles files;
    QByteArray lines;
    for (int i = 0; i < 61111; ++i)
        lines += "[12:00:00.000]\t{}\n";
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(withHole(files, lines, 200LL << 30, QByteArray()), error)) << error.toStdString();
    EXPECT_EQ(61111, r.count());
    EXPECT_EQ("1 line skipped: line 61112: datagram longer than UDP carries", r.skippedText().toStdString());
}

TEST(Recording, LinesAfterAHoleKeepTheirPlace)
{
    const QByteArray before = udpLine(0, "{\"WorldZ\":1}") + udpLine(10, "{\"WorldZ\":2}");
    const QByteArray after = udpLine(20, "{\"WorldZ\":3}") + udpLine(30, "{\"WorldZ\":4}");
    const struct {
        qint64 hole;
        const char* why; // of the line the hole runs into
    } cases[] = {{100, "empty line"}, {64 << 20, "datagram longer than UDP carries"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hole);
        RecordingFiles files;
        Recording r;
        QString error;
        ASSERT_TRUE(r.open(withHole(files, before, c.hole, after), error)) << error.toStdString();
        ASSERT_EQ(3, r.count());
        EXPECT_EQ("{\"WorldZ\":2}", r.payload(1));
        EXPECT_EQ("{\"WorldZ\":4}", r.payload(2));
        EXPECT_EQ(30, r.timeMs(2));
        EXPECT_EQ(QString("1 line skipped: line 3: %1").arg(c.why), r.skippedText());
    }
}

TEST(Recording, OpeningStopsWhenAskedTo)
{
    RecordingFiles files;
    QByteArray text;
    for (int i = 0; i < 300000; ++i) // 5 MB: several reads
        text += udpLine(i, "{}");
    const QString path = files.write("udp.txt", text);
    int asked = 0;
    Recording r;
    QString error;
    EXPECT_FALSE(r.open(path, error, [&] { return ++asked == 2; }));
    EXPECT_EQ(2, asked) << "read on after the stop";
    EXPECT_EQ(QString("opening %1 stopped").arg(path), error);
}

TEST(Recording, PlotsOfALongRecordingStayThinAndKeepTheExtremes)
{
    RecordingFiles files;
    QByteArray text;
    for (int i = 0; i < 20000; ++i) // beside the highest, a value no float holds, which no curve shows
        text += udpLine(i, i == 12345 ? "{\"WorldZ\":99}" : i == 12346 ? "{\"WorldZ\":1e308}" : "{\"WorldZ\":1}");
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    const auto& buckets = r.plots().buckets();
    EXPECT_LE(buckets.size(), size_t(2 * PlotData::Target));
    EXPECT_GE(buckets.size(), size_t(PlotData::Target));
    float highest = 0;
    for (const auto& b : buckets)
        highest = std::max(highest, b.high[PlotData::Height]);
    EXPECT_EQ(99, highest);
    EXPECT_EQ(0, buckets.front().timeMs);
}

// A trace.txt has 1 ms stamps: a speed from neighbouring lines is mostly the
// stamps' rounding. The aircraft flies 5 m/s; its position is taken every 1 ms
// with the stamp cut to the millisecond before or after.
TEST(Recording, TraceSpeedsComeFromAtLeastATenthOfASecond)
{
    RecordingFiles files;
    QByteArray text;
    for (int i = 0; i < 2000; ++i) {
        const qint64 stamp = i + (i % 3 == 0 ? 1 : 0); // jitter, never backwards
        text += QString::asprintf("[10:00:%02lld.%03lld]\tx:%.6f,y:0.000000,z:10.000000\n", stamp / 1000, stamp % 1000,
                                  i * 0.005)
                    .toLatin1();
    }
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("trace.txt", text), error)) << error.toStdString();
    EXPECT_NEAR(5, r.stats().maxHorizontalSpeed, 0.2);
    float lowest = 1e9f, highest = 0;
    for (const auto& b : r.plots().buckets()) {
        if (b.timeMs < SpeedWindowMs)
            continue;
        lowest = std::min(lowest, b.low[PlotData::HorizontalSpeed]);
        highest = std::max(highest, b.high[PlotData::HorizontalSpeed]);
    }
    EXPECT_NEAR(5, lowest, 0.2);
    EXPECT_NEAR(5, highest, 0.2);
    EXPECT_FALSE(r.plots().hasAttitude);
}

TEST(Recording, YawIsPlottedWithoutJumpsAtHalfATurn)
{
    const struct {
        double previous, degrees, unwrapped;
    } cases[] = {
        {179, -179, 181}, {-179, 179, -181}, {170, 10, 10}, {540, -175, 545}, {0, 90, 90},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.unwrapped, unwrapDegrees(c.previous, c.degrees)) << c.previous << " " << c.degrees;

    RecordingFiles files;
    QByteArray text;
    const double yaws[] = {170, 179, -179, -170, 179, 170}; // degrees: over +-180 and back
    for (int i = 0; i < 6; ++i)
        text += udpLine(i * 20, QString("{\"Yaw\":%1}").arg(yaws[i] * M_PI / 180, 0, 'g', 17).toLatin1());
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    const auto& buckets = r.plots().buckets();
    ASSERT_EQ(6u, buckets.size());
    const double plotted[] = {170, 179, 181, 190, 179, 170};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(plotted[i], buckets[size_t(i)].low[PlotData::Yaw], 1e-3) << i;
    EXPECT_TRUE(r.plots().hasAttitude);
}

// Runs begin at a new run counter or after a pause the visualiser would end a
// run at; the motors are marked where "MotorStarted" changes.
TEST(Recording, MarkersWhereRunsAndMotorsStartAndStop)
{
    RecordingFiles files;
    const struct {
        qint64 ms;
        int run, motors;
    } states[] = {{0, 1, 0},    {100, 1, 1}, {200, 1, 1}, {300, 1, 0}, // run 1, motors 100 to 300
                  {400, 2, 0},  {500, 2, 1}, // run 2 starts with its counter
                  {3500, 2, 1}, {3600, 2, 0}}; // a pause: run 3
    QByteArray text;
    for (const auto& st : states)
        text += udpLine(st.ms,
                        QString("{\"SimulatorCommand\":%1,\"MotorStarted\":%2}").arg(st.run).arg(st.motors).toLatin1());
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    using M = PlotData::Marker;
    const std::vector<std::pair<qint64, M::Kind>> expected = {
        {0, M::RunStart},      {100, M::MotorsStart}, {300, M::MotorsStop}, {300, M::RunEnd},      {400, M::RunStart},
        {500, M::MotorsStart}, {500, M::RunEnd},      {3500, M::RunStart},  {3600, M::MotorsStop}, {3600, M::RunEnd}};
    std::vector<std::pair<qint64, M::Kind>> got;
    for (const M& m : r.plots().markers)
        got.push_back({m.timeMs, m.kind});
    EXPECT_EQ(expected, got);

    // A trace has neither counter nor motors: one run from its first line to its last.
    Recording trace;
    ASSERT_TRUE(trace.open(files.write("trace.txt",
                                       "[10:00:00.000]\tx:0.000000,y:0.000000,z:1.000000\n"
                                       "[10:00:00.500]\tx:1.000000,y:0.000000,z:1.000000\n"),
                           error));
    ASSERT_EQ(2u, trace.plots().markers.size());
    EXPECT_EQ(M::RunStart, trace.plots().markers[0].kind);
    EXPECT_EQ(500, trace.plots().markers[1].timeMs);
    EXPECT_EQ(M::RunEnd, trace.plots().markers[1].kind);
}

TEST(Recording, AnyNumericKeyBecomesACurve)
{
    RecordingFiles files;
    QByteArray text;
    for (int i = 0; i < 6; ++i) // "Rpm1" only on even states; "SenderIP" is text
        text += udpLine(i * 10,
                        i % 2 ? QString("{\"WorldZ\":%1,\"SenderIP\":\"10.0.0.1\"}").arg(i).toLatin1()
                              : QString("{\"WorldZ\":%1,\"Rpm1\": %2}").arg(i).arg(i * 100).toLatin1());
    text += "[10:00:00.100]\tx:1.000000,y:2.000000,z:3.000000\n"; // a position line has no keys
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    EXPECT_EQ(QStringList({"Rpm1", "WorldZ"}), r.numericKeys());
    const PlotData rpm = r.keyCurve("Rpm1");
    ASSERT_EQ(3u, rpm.buckets().size());
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(qint64(k) * 20, rpm.buckets()[k].timeMs);
        EXPECT_EQ(float(k) * 200, rpm.buckets()[k].low[PlotData::Height]);
    }
    EXPECT_TRUE(r.keyCurve("SenderIP").buckets().empty());
    EXPECT_TRUE(r.keyCurve("Rpm").buckets().empty()) << "a prefix of a key is not the key";
}

} // namespace
