// The emulator's command line: what it accepts and how it refuses the rest.

#include "tools/flight-emulator/EmulatorOptions.h"

#include <gtest/gtest.h>

using namespace emu;

TEST(EmulatorOptions, DefaultsWithoutArguments)
{
    EmulatorOptions o;
    std::string error;
    ASSERT_TRUE(parseOptions({}, o, error));
    EXPECT_EQ(o.linkPath, "/tmp/quvor-fc");
    EXPECT_EQ(o.session.product, ProductTavik1);
    EXPECT_EQ(o.session.rateHz, 50);
    EXPECT_EQ(o.session.mission, MissionKind::Square);
    EXPECT_EQ(o.faultRate, 0.0);
    EXPECT_FALSE(o.help);
}

TEST(EmulatorOptions, AcceptsEveryOptionInBothSpellings)
{
    EmulatorOptions o;
    std::string error;
    ASSERT_TRUE(parseOptions({"--link", "/tmp/x", "--product=vx7", "--rate", "1000", "--mission=circle", "--seed",
                              "18446744073709551615", "--faults=0.02"},
                             o, error))
        << error;
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.session.product, ProductVx7);
    EXPECT_EQ(o.session.rateHz, 1000);
    EXPECT_EQ(o.session.mission, MissionKind::Circle);
    EXPECT_EQ(o.session.seed, 18446744073709551615ull);
    EXPECT_DOUBLE_EQ(o.faultRate, 0.02);

    ASSERT_TRUE(parseOptions({"--product", "nerio", "--mission", "hover", "--rate=1", "--help"}, o, error));
    EXPECT_EQ(o.session.product, ProductNerio3);
    EXPECT_EQ(o.session.mission, MissionKind::Hover);
    EXPECT_EQ(o.session.rateHz, 1);
    EXPECT_TRUE(o.help);
}

TEST(EmulatorOptions, RefusesBadValuesNamingTheOption)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--rate", "0"}, "--rate must be a whole number of Hz from 1 to 1000, not '0'"},
        {{"--rate", "1001"}, "--rate must be a whole number of Hz from 1 to 1000, not '1001'"},
        {{"--rate", "-5"}, "--rate must be a whole number of Hz from 1 to 1000, not '-5'"},
        {{"--rate", "50Hz"}, "--rate must be a whole number of Hz from 1 to 1000, not '50Hz'"},
        {{"--rate", "99999999999999999999999"},
         "--rate must be a whole number of Hz from 1 to 1000, not '99999999999999999999999'"},
        {{"--product", "tavik1"}, "unknown product 'tavik1' (use tavik, nerio or vx7)"},
        {{"--mission", "figure8"}, "unknown mission 'figure8' (use hover, square or circle)"},
        {{"--seed", "-1"}, "--seed must be a non-negative whole number, not '-1'"},
        {{"--faults", "1.5"}, "--faults must be a fraction from 0 to 1, not '1.5'"},
        {{"--faults", "nan"}, "--faults must be a fraction from 0 to 1, not 'nan'"},
        {{"--link="}, "--link needs a path"},
        {{"--rate"}, "option --rate needs a value"},
        {{"--port", "/dev/ttyACM0"}, "unknown option '--port'"},
        {{"extra"}, "unknown option 'extra'"},
    };
    for (const auto& c : cases) {
        EmulatorOptions o;
        std::string error;
        EXPECT_FALSE(parseOptions(c.args, o, error)) << c.message;
        EXPECT_EQ(error, c.message);
    }
}
