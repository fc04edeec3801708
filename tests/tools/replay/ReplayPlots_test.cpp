// The plots' axes for what a recording holds, drawn offscreen.
#include "tools/replay/ReplayPlots.h"

#include <QApplication>
#include <QtCharts/QChart>
#include <QtCharts/QValueAxis>

#include <gtest/gtest.h>

#include <cmath>

using namespace replay;

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_plots_test";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}

QtCharts::QValueAxis* heightAxis(ReplayPlots& plots)
{
    return qobject_cast<QtCharts::QValueAxis*>(plots.chartView(0)->chart()->axes(Qt::Vertical).value(0));
}

TEST(ReplayPlots, AxesSpanTheFiniteValuesShown)
{
    app();
    const struct {
        const char* name;
        std::vector<double> heights;
        double low, high; // within the axis
    } cases[] = {
        {"beyond a float", {1, 5, 1e308, 3, -1e308}, 1, 5},
        {"infinite", {2, 4, INFINITY}, 2, 4},
        {"widest floats", {-3e38, 3e38}, -3e38, 3e38},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlotData data;
        for (size_t i = 0; i < c.heights.size(); ++i) {
            const double values[PlotData::ChannelCount] = {c.heights[i], 0, 0, 0, 0};
            data.add(qint64(i) * 100, values);
        }
        ReplayPlots plots;
        plots.setData(data, qint64(c.heights.size() - 1) * 100);
        QtCharts::QValueAxis* y = heightAxis(plots);
        ASSERT_NE(nullptr, y);
        EXPECT_TRUE(std::isfinite(y->min()) && std::isfinite(y->max())) << y->min() << " " << y->max();
        EXPECT_LE(y->min(), c.low);
        EXPECT_GE(y->max(), c.high);
        EXPECT_LT(y->max() - y->min(), (c.high - c.low) * 3 + 10) << "range wider than what is shown";
    }
}

} // namespace
