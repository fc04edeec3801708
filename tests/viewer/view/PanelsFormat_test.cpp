#include "viewer/view/Panels.h"

#include "tests/common/QtPrint.h"

#include <gtest/gtest.h>

namespace {

TEST(PanelFormat, ReplayTime)
{
    const struct {
        qint32 ms;
        const char* text;
    } cases[] = {
        {0, "0:00.000"},     {61234, "1:01.234"},  {3600000, "60:00.000"}, // minutes are not wrapped into hours
        {59999, "0:59.999"}, {-1, "71582:47.295"}, // taken as unsigned milliseconds
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatReplayTime(c.ms), c.text) << c.ms;
}

TEST(PanelFormat, RowsAreStaleWhenTheKeySetChanges)
{
    const QMap<QString, QString> values{{"Roll", "0.1000"}, {"Yaw", "0.2000"}};
    EXPECT_TRUE(panelRowsCurrent({"Yaw", "Roll"}, values)); // row order does not matter
    EXPECT_FALSE(panelRowsCurrent({"Roll"}, values)); // a key was added
    EXPECT_FALSE(panelRowsCurrent({"Roll", "Yaw", "AccX"}, values));
    EXPECT_FALSE(panelRowsCurrent({"Roll", "Pitch"}, values));
    EXPECT_TRUE(panelRowsCurrent({}, {}));
}

} // namespace
