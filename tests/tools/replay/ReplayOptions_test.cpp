#include "tools/replay/FlightSummary.h"
#include "tools/replay/ReplayOptions.h"

#include "tests/tools/replay/ReplayTestFiles.h"

#include <gtest/gtest.h>

using namespace replay;

namespace {

TEST(ReplayOptions, ReadsTheCommandLine)
{
    ReplayOptions o;
    QString error;
    ASSERT_TRUE(parseOptions({"udp.txt", "--no-gui", "--speed", "4", "--from", "1.5", "--to=12", "--loop", "--to",
                              "10.0.0.7:6000", "--local"},
                             o, error))
        << error.toStdString();
    EXPECT_EQ("udp.txt", o.file.toStdString());
    EXPECT_TRUE(o.noGui);
    EXPECT_EQ(4, o.speed);
    EXPECT_EQ(1500, o.fromMs);
    EXPECT_EQ(12000, o.toMs);
    EXPECT_TRUE(o.loop);
    EXPECT_EQ("10.0.0.7", o.host.toStdString());
    EXPECT_EQ(6000, o.port);
    EXPECT_TRUE(o.local);

    ReplayOptions named;
    ASSERT_TRUE(parseOptions({"f", "--to", "localhost"}, named, error));
    EXPECT_EQ("localhost", named.host.toStdString());
    EXPECT_EQ(0, named.port);
    EXPECT_EQ(-1, named.toMs);

    // The menu entry starts the window this way, with or without a file.
    for (const QStringList& args : {QStringList{"--choose-file"}, QStringList{"--choose-file", "udp.txt"}}) {
        ReplayOptions chooser;
        ASSERT_TRUE(parseOptions(args, chooser, error)) << error.toStdString();
        EXPECT_TRUE(chooser.chooseFile);
        EXPECT_FALSE(chooser.windowless());
    }
}

TEST(ReplayOptions, SpeedIsANumberOrAFraction)
{
    const struct {
        const char* text;
        double speed;
    } cases[] = {{"1/64", 1.0 / 64}, {"3/4", 0.75}, {"0.015625", 1.0 / 64}, {"1024", 1024}, {"2048/2", 1024}};
    for (const auto& c : cases) {
        ReplayOptions o;
        QString error;
        ASSERT_TRUE(parseOptions({"f", "--speed", c.text}, o, error)) << c.text << ": " << error.toStdString();
        EXPECT_EQ(c.speed, o.speed) << c.text;
    }
}

TEST(ReplayOptions, BadOptionsSayWhatIsWrong)
{
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{"f", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"f", "--speed"}, "option --speed needs a value"},
        {{"f", "--speed", "0"}, "--speed must be a number from 1/64 to 1024, not '0'"},
        {{"f", "--speed", "nan"}, "--speed must be"},
        {{"f", "--speed", "inf"}, "--speed must be"},
        {{"f", "--speed", "1/65"}, "--speed must be a number from 1/64 to 1024, not '1/65'"},
        {{"f", "--speed", "1/0"}, "--speed must be"},
        {{"f", "--speed", "1/2/3"}, "--speed must be"},
        {{"f", "--speed", "/2"}, "--speed must be"},
        {{"f", "--speed", "-1/-64"}, "--speed must be"},
        {{"f", "--from", "-1"}, "--from needs a time in seconds, not '-1'"},
        {{"f", "--from", "1e3"}, "--from needs a time in seconds"},
        {{"f", "--to", "host:0"}, "port from 1 to 65535"},
        {{"f", "--to", "host:99999"}, "port from 1 to 65535"},
        {{"f", "--to", ":5566"}, "--to needs seconds or HOST[:PORT]"},
        {{"f", "--from", "10", "--to", "5"}, "--to lies before --from"},
        {{"f", "g"}, "more than one file"},
        {{"--no-gui"}, "no recording given"},
        {{"--summary"}, "no recording given"},
        {{"f", "--loop=1"}, "option --loop takes no value"},
        {{"--export", "out.csv"}, "no recording given"},
        {{"f", "--run", "2"}, "--run belongs to --export or --checks"},
        {{"f", "--checks", "c.toml", "--no-gui"}, "--checks marks the window or --plot"},
        {{"f", "--export", "o.csv", "--run", "0"}, "--run needs a run number from 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ReplayOptions o;
        QString error;
        EXPECT_FALSE(parseOptions(c.args, o, error));
        EXPECT_TRUE(error.contains(c.says)) << error.toStdString();
    }
    ReplayOptions o;
    QString error;
    EXPECT_TRUE(parseOptions({}, o, error)) << "the window may open a file itself";
}

TEST(ReplayOptions, ClockTextBothWays)
{
    const struct {
        qint64 ms;
        const char* text;
    } shown[] = {{0, "0:00.000"}, {61234, "1:01.234"}, {3600000, "60:00.000"}, {-5, "0:00.000"}};
    for (const auto& c : shown)
        EXPECT_EQ(c.text, clockText(c.ms).toStdString());

    const struct {
        const char* text;
        qint64 ms; // -1: refused
    } typed[] = {
        {"1:01.234", 61234},
        {"0:05", 5000},
        {"12.5", 12500},
        {"75", 75000},
        {" 2:00.1 ", 120100},
        {"1:02:03.004", 3723004},
        {"60:00.000", 3600000},
        {"0:00.12345", 123},
        {"1:60.000", -1},
        {"1:00:60", -1},
        {"1:60:00", -1},
        {"-1", -1},
        {"", -1},
        {"abc", -1},
        {"1.2.3", -1},
        {"99999999999:00", -1},
    };
    for (const auto& c : typed) {
        qint64 ms = -1;
        const bool ok = parseClockText(c.text, ms);
        EXPECT_EQ(c.ms >= 0, ok) << c.text;
        if (ok) {
            EXPECT_EQ(c.ms, ms) << c.text;
        }
    }
}

TEST(FlightSummary, TellsTheFlightAtAGlance)
{
    replay_test::RecordingFiles files;
    QByteArray text;
    for (int i = 0; i <= 100; ++i)
        text += replay_test::udpLine(i * 20, replay_test::state(i / 10.0, i));
    text += "oops\n";
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    const QString s = flightSummary(r);
    for (const char* line :
         {"duration:           0:02.000", "states:             101", "mean rate:          50.0 states/s",
          "product type:       Nerio3", "highest height:     10.00 m", "distance flown:     1.00 m horizontally",
          "top speed:          1.00 m/s horizontally", "lines skipped:      1 (line 102: no time stamp)"})
        EXPECT_TRUE(s.contains(line)) << line << "\n" << s.toStdString();
}

TEST(FlightSummary, HugeValuesStayReadable)
{
    replay_test::RecordingFiles files;
    const QByteArray text = replay_test::udpLine(0, "{\"WorldZ\":1,\"VelocityX\":3e200}") +
        replay_test::udpLine(20, "{\"WorldZ\":1e308,\"WorldX\":2.5e12}");
    Recording r;
    QString error;
    ASSERT_TRUE(r.open(files.write("udp.txt", text), error));
    const QString s = flightSummary(r);
    for (const char* line : {"highest height:     1e+308 m", "distance flown:     2.5e+12 m horizontally",
                             "top speed:          3e+200 m/s horizontally"})
        EXPECT_TRUE(s.contains(line)) << line << "\n" << s.toStdString();
}

} // namespace
