// Reading check files: what a person writes by hand, and the line each
// mistake is reported at.

#include "tools/check/CheckFile.h"

#include <gtest/gtest.h>

using namespace check;

namespace {

const char* const Example = R"(name = "square mission, Nerio3"     # the scenario
product = "Nerio3"

[run]
end_after_motors_stop = 3
min_duration = 30
max_duration = 90
min_rate = 40
max_gap = 0.5

[[check]]
name = "never above 15 m"
value = "height"
max = 15

[[check]]
name = "holds 10 m for 3 s"
value = "height"
min = 9.5
max = 10.5
for = 3
from = 5
to = 45

[[check]]
name = "lands within 2 m of the start"
value = "distance"
max = 2
at = "end"
)";

TEST(CheckFile, ReadsEveryKeyOfTheExample)
{
    CheckSuite s;
    QString error;
    ASSERT_TRUE(parseCheckText(Example, "square.toml", s, error)) << error.toStdString();
    EXPECT_EQ("square mission, Nerio3", s.name);
    EXPECT_EQ(2, s.product.value_or(-1));
    EXPECT_EQ(3, s.run.endAfterMotorsStop);
    EXPECT_EQ(30, s.run.minDuration.value_or(-1));
    EXPECT_EQ(90, s.run.maxDuration.value_or(-1));
    EXPECT_EQ(40, s.run.minRate.value_or(-1));
    EXPECT_EQ(0.5, s.run.maxGap.value_or(-1));
    ASSERT_EQ(3, s.checks.size());
    const Check& always = s.checks[0];
    EXPECT_EQ("never above 15 m", always.name);
    EXPECT_EQ(11, always.line);
    EXPECT_EQ(Mode::Always, always.mode);
    EXPECT_FALSE(always.min);
    EXPECT_EQ(15, always.max.value_or(-1));
    const Check& hold = s.checks[1];
    EXPECT_EQ(Mode::Eventually, hold.mode);
    EXPECT_EQ(3, hold.forSeconds);
    EXPECT_EQ(5, hold.from.value_or(-1));
    EXPECT_EQ(45, hold.to.value_or(-1));
    EXPECT_TRUE(hold.value.derived);
    EXPECT_EQ(Derived::Height, hold.value.which);
    EXPECT_EQ(Mode::AtEnd, s.checks[2].mode);
    EXPECT_EQ(Derived::Distance, s.checks[2].value.which);
}

TEST(CheckFile, DatagramKeysByTheirOwnNames)
{
    CheckSuite s;
    QString error;
    ASSERT_TRUE(parseCheckText("name='k'\n[[check]]\nvalue='FlyingState'\nmin=1\n"
                               "[[check]]\nvalue='Rpm3'\nmax=9000\n",
                               "k.toml", s, error))
        << error.toStdString();
    EXPECT_FALSE(s.checks[0].value.derived);
    EXPECT_EQ(StateDatagram::Key::FlyingState, s.checks[0].value.key);
    EXPECT_EQ(StateDatagram::Key::Rpm3, s.checks[1].value.key);
    EXPECT_EQ(0, s.run.endAfterMotorsStop == 3 ? 0 : 1) << "the default";
}

TEST(CheckFile, MistakesNameTheirLine)
{
    const struct {
        const char* text;
        const char* error; // the whole message starts with it
    } cases[] = {
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = = 3\n", "f.toml:4:"},
        {"name = 'x'\n[[check]]\nvalue = 'hieght'\nmax = 3\n", "f.toml:3: unknown value \"hieght\""},
        {"name = 'x'\n[[check]]\nvalue = 'SenderIP'\nmax = 3\n", "f.toml:3: unknown value \"SenderIP\""},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmaks = 3\n", "f.toml:4: unknown key \"maks\""},
        {"name = 'x'\n\n[[check]]\nname = 'c'\nvalue = 'height'\n", "f.toml:3: check \"c\" has neither min nor max"},
        {"name = 'x'\n[[check]]\nmax = 3\n", "f.toml:2: check \"check 1\" names no value"},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmin = 3\nmax = 2\n",
         "f.toml:5: check \"check 1\": max is below min"},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = '3'\n", "f.toml:4: \"max\" must be a number"},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = nan\n", "f.toml:4: \"max\" must be a finite number"},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = 3\nfor = -1\n", "f.toml:5: \"for\" cannot be negative"},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = 3\nat = 'middle'\n",
         "f.toml:5: \"at\" is \"start\" or \"end\""},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = 3\nfor = 2\nat = 'end'\n",
         "f.toml:6: check \"check 1\": \"at\""},
        {"name = 'x'\n[[check]]\nvalue = 'height'\nmax = 3\nfrom = 9\nto = 4\n",
         "f.toml:6: check \"check 1\": \"to\" is before"},
        {"name = 'x'\n[run]\nmin_duration = 9\nmax_duration = 4\n", "f.toml:4: max_duration is below min_duration"},
        {"name = 'x'\n[run]\nmax_rate = 9\n", "f.toml:3: unknown key \"max_rate\" in [run]"},
        {"name = 'x'\nproduct = 'Nerio4'\n[run]\nmax_gap = 1\n", "f.toml:2: unknown product \"Nerio4\""},
        {"name = 'x'\nowner = 'me'\n", "f.toml:2: unknown key \"owner\""},
        {"[run]\nmax_gap = 1\n", "f.toml:1: the file has no name"},
        {"name = 'x'\n", "f.toml:1: the file holds no check"},
        {"name = 'x'\n[[check]]\nname = 'a'\nvalue = 'height'\nmax = 3\n[[check]]\nname = 'a'\nvalue = 'tilt'\nmax = 3\n",
         "f.toml:6: a check named \"a\" already stands at line 2"},
    };
    for (const auto& c : cases) {
        CheckSuite s;
        QString error;
        EXPECT_FALSE(parseCheckText(c.text, "f.toml", s, error)) << c.text;
        EXPECT_TRUE(error.startsWith(c.error)) << "got: " << error.toStdString() << "\nwanted: " << c.error;
    }
}

TEST(CheckFile, AFileThatCannotBeReadSaysSo)
{
    CheckSuite s;
    QString error;
    EXPECT_FALSE(readCheckFile("/nonexistent/checks.toml", s, error));
    EXPECT_TRUE(error.startsWith("cannot read /nonexistent/checks.toml")) << error.toStdString();
}

} // namespace
