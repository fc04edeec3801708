// The window under the offscreen platform, sending to a socket of the test's own.
#include "tools/replay/ReplayOptions.h"
#include "tools/replay/ReplayPlots.h"
#include "tools/replay/ReplayWindow.h"

#include "tests/tools/replay/ReplayTestFiles.h"
#include "common/Json.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QRegularExpression>
#include <QtCharts/QValueAxis>
#include <QTest>
#include <QUdpSocket>
#include <QUrl>
#include <QWheelEvent>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace replay;

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}

class ReplayWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QString error;
        ASSERT_TRUE(sender.setTarget("127.0.0.1", receiver.localPort(), error));
        QByteArray text;
        for (int i = 0; i < 50; ++i) // 0.98 s, a state every 20 ms, WorldZ 0 to 49
            text += replay_test::udpLine(i * 20, replay_test::state(i, i));
        path = files.write("udp.txt", text);
        window = std::make_unique<ReplayWindow>(sender, false);
        ASSERT_TRUE(window->openFile(path));
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 10000));
    }

    // Datagrams received so far, parsed.
    QList<QVariantMap> take()
    {
        while (receiver.hasPendingDatagrams()) {
            QByteArray data(int(receiver.pendingDatagramSize()), '\0');
            receiver.readDatagram(data.data(), data.size());
            bool ok = false;
            received.append(Json::parse(QString::fromUtf8(data), ok).toMap());
        }
        return received;
    }
    bool waitForCount(int n, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return take().size() >= n; }, timeoutMs);
    }
    // Time of the latest datagram once n have come.
    int timeOfDatagram(int n)
    {
        EXPECT_TRUE(waitForCount(n));
        return take().value(n - 1).value("Time", -1).toInt();
    }
    template <typename T> T* child(const char* name)
    {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(nullptr, w) << name;
        return w;
    }
    QString shownTime() { return child<QLabel>("label_time")->text(); }

    replay_test::RecordingFiles files;
    QString path;
    QUdpSocket receiver;
    ReplaySender sender;
    std::unique_ptr<ReplayWindow> window;
    QList<QVariantMap> received;
};

TEST_F(ReplayWindowTest, PlayRunsToTheEndAndPauseStops)
{
    EXPECT_EQ("0:00.000 / 0:00.980", shownTime().toStdString());
    EXPECT_TRUE(child<QLabel>("label_file")->text().contains("50 states"));
    auto* play = child<QPushButton>("pushButton_play");
    window->setSpeed(0.25); // four seconds: a busy machine still finds it playing
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_TRUE(waitForCount(5));
    EXPECT_TRUE(window->engine()->player().playing());
    QTest::mouseClick(play, Qt::LeftButton);
    EXPECT_FALSE(window->engine()->player().playing());
    const int sent = take().size();
    QTest::qWait(300);
    EXPECT_EQ(sent, take().size()) << "datagrams after pause";
    // The time stops between the last state sent and the next.
    qint64 pausedAt = -1;
    ASSERT_TRUE(parseClockText(shownTime().section(" / ", 0, 0), pausedAt)) << shownTime().toStdString();
    EXPECT_GE(pausedAt, (sent - 1) * 20);
    EXPECT_LT(pausedAt, sent * 20);
    QTest::qWait(100);
    EXPECT_EQ(clockText(pausedAt), shownTime().section(" / ", 0, 0));

    // Playing on reaches the last state, each datagram marked as a replay, in order.
    window->setSpeed(16);
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_TRUE(waitForCount(50));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->engine()->player().playing(); }, 10000));
    const QList<QVariantMap> all = take();
    ASSERT_EQ(50, all.size());
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(1, all[i]["PlayBackEnabled"].toInt());
        EXPECT_EQ(i * 20, all[i]["Time"].toInt());
        EXPECT_EQ(i, all[i]["WorldZ"].toInt());
    }
    EXPECT_EQ("0:00.980 / 0:00.980", shownTime().toStdString());
    EXPECT_EQ(980, child<QSlider>("horizontalSlider_time")->value());
    EXPECT_EQ(980, window->plots()->cursorTime());
}

TEST_F(ReplayWindowTest, SliderAndTypedTimeSendTheStateThereAtOnce)
{
    auto* slider = child<QSlider>("horizontalSlider_time");
    slider->setSliderDown(true);
    slider->setSliderPosition(507);
    EXPECT_EQ(500, timeOfDatagram(1));
    slider->setSliderPosition(733);
    EXPECT_EQ(720, timeOfDatagram(2));
    slider->setSliderDown(false);
    EXPECT_EQ("0:00.733 / 0:00.980", shownTime().toStdString());

    auto* edit = child<QLineEdit>("lineEdit_time");
    edit->setText("0:00.250");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(240, timeOfDatagram(3));
    EXPECT_EQ("0:00.250 / 0:00.980", shownTime().toStdString());
    EXPECT_EQ(250, slider->value());

    edit->setText("half past");
    QTest::mouseClick(child<QPushButton>("pushButton_go"), Qt::LeftButton);
    EXPECT_EQ("0:00.250 / 0:00.980", shownTime().toStdString());
    EXPECT_EQ(3, take().size());

    // A typed time beyond the end shows the last state.
    edit->setText("5:00");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(980, timeOfDatagram(4));
}

TEST_F(ReplayWindowTest, KeysStepJumpAndChangeSpeed)
{
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(window.get(), k, m); };
    key(Qt::Key_Right);
    EXPECT_EQ(0, timeOfDatagram(1));
    key(Qt::Key_Right);
    EXPECT_EQ(20, timeOfDatagram(2));
    key(Qt::Key_Left);
    EXPECT_EQ(0, timeOfDatagram(3));
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(980, timeOfDatagram(4));
    key(Qt::Key_Home);
    EXPECT_EQ(0, timeOfDatagram(5));
    key(Qt::Key_End);
    EXPECT_EQ(980, timeOfDatagram(6));
    key(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(0, timeOfDatagram(7));

    auto* speed = child<QComboBox>("comboBox_speed");
    EXPECT_EQ(1, window->engine()->player().speed());
    key(Qt::Key_Plus);
    key(Qt::Key_Plus);
    EXPECT_EQ(4, window->engine()->player().speed());
    EXPECT_EQ(QString("4") + QChar(0xD7), speed->currentText());
    for (int i = 0; i < 10; ++i)
        key(Qt::Key_Minus);
    EXPECT_EQ(0.25, window->engine()->player().speed());
    speed->setCurrentIndex(speed->count() - 1);
    EXPECT_EQ(16, window->engine()->player().speed());

    QTest::mouseClick(child<QCheckBox>("checkBox_loop"), Qt::LeftButton);
    EXPECT_TRUE(window->engine()->player().loop());

    key(Qt::Key_Space);
    EXPECT_TRUE(window->engine()->player().playing());
    key(Qt::Key_Space);
    EXPECT_FALSE(window->engine()->player().playing());
    // The steps pause a running replay.
    key(Qt::Key_Space);
    key(Qt::Key_Right);
    EXPECT_FALSE(window->engine()->player().playing());
}

TEST_F(ReplayWindowTest, ClickingAPlotSeeksThere)
{
    QtCharts::QChartView* view = window->plots()->chartView(0);
    const QRectF area = view->chart()->plotArea();
    const QPoint middle = view->mapFromScene(view->chart()->mapToScene(area.center()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, middle);
    const int time = timeOfDatagram(1);
    EXPECT_NEAR(490, time, 40);
    EXPECT_NEAR(490, window->engine()->positionMs(), 40);
    EXPECT_EQ(window->engine()->positionMs(), window->plots()->cursorTime());
}

// The wheel zooms the time axis around the pointer and a drag pans it, on every
// chart at once; a click after that still seeks to the time under the pointer.
TEST_F(ReplayWindowTest, WheelZoomsAndDragPansEveryPlot)
{
    ReplayPlots* plots = window->plots();
    QtCharts::QChartView* view = plots->chartView(1);
    const QRectF area = view->chart()->plotArea();
    auto at = [&](double fraction) {
        return view->mapFromScene(
            view->chart()->mapToScene(QPointF(area.left() + area.width() * fraction, area.center().y())));
    };
    auto ranges = [&] {
        QVector<QPair<double, double>> r;
        for (int i = 0; i < plots->chartCount(); ++i) {
            auto* x = qobject_cast<QtCharts::QValueAxis*>(plots->chartView(i)->chart()->axes(Qt::Horizontal).first());
            r.append({x->min(), x->max()});
        }
        return r;
    };
    auto wheel = [&](const QPoint& p, int steps) {
        QWheelEvent e(QPointF(p), QPointF(view->viewport()->mapToGlobal(p)), QPoint(), QPoint(0, 120 * steps),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &e);
    };
    auto sameEverywhere = [&] {
        const auto r = ranges();
        for (const auto& one : r)
            if (std::abs(one.first - r.first().first) > 1e-9 || std::abs(one.second - r.first().second) > 1e-9)
                return false;
        return true;
    };
    ASSERT_EQ(0, plots->windowFrom());
    ASSERT_EQ(980, plots->windowTo());

    // Three steps in around the middle: 0.8^3 of the time, centred where it was.
    wheel(at(0.5), 3);
    EXPECT_NEAR(980 * 0.512, plots->windowTo() - plots->windowFrom(), 2);
    EXPECT_NEAR(490, (plots->windowFrom() + plots->windowTo()) / 2, 3);
    EXPECT_TRUE(sameEverywhere());
    EXPECT_NEAR(plots->windowFrom() / 1000.0, ranges().first().first, 1e-3);

    // Dragging right by a quarter of the plot shows earlier times, by a quarter of the window.
    const qint64 before = plots->windowFrom();
    const qint64 width = plots->windowTo() - before;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(0.5));
    for (double f : {0.6, 0.75}) { // QTest::mouseMove carries no button
        QMouseEvent move(QEvent::MouseMove, at(f), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
    }
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(0.75));
    EXPECT_NEAR(before - width / 4, plots->windowFrom(), 3);
    EXPECT_EQ(width, plots->windowTo() - plots->windowFrom());
    EXPECT_TRUE(sameEverywhere());
    EXPECT_EQ(0, window->plots()->cursorTime()) << "a drag does not seek";

    // A click seeks to the time under the pointer in the zoomed view.
    const qint64 expected = plots->timeAt(1, at(0.5));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at(0.5));
    EXPECT_NEAR(expected, window->engine()->positionMs(), 25);

    // Far out and far off: the window stays inside the recording, and never below its minimum.
    wheel(at(0.5), -20);
    EXPECT_EQ(0, plots->windowFrom());
    EXPECT_EQ(980, plots->windowTo());
    wheel(at(0.9), 40);
    EXPECT_EQ(ReplayPlots::MinWindowMs, plots->windowTo() - plots->windowFrom());
    plots->panBy(1, -100000);
    EXPECT_EQ(980, plots->windowTo());
}

TEST_F(ReplayWindowTest, AnyRecordedKeyCanBeAFourthPlot)
{
    auto* curve = child<QComboBox>("comboBox_curve");
    QStringList offered;
    for (int i = 1; i < curve->count(); ++i)
        offered << curve->itemText(i);
    EXPECT_TRUE(offered.contains("VelocityX") && offered.contains("Time")) << offered.join(' ').toStdString();
    EXPECT_FALSE(offered.contains("WorldZ")) << "already plotted";
    EXPECT_FALSE(offered.contains("SenderIP")) << "not a number";
    ReplayPlots* plots = window->plots();
    QtCharts::QChartView* extra = plots->chartView(plots->chartCount() - 1);
    EXPECT_FALSE(extra->isVisible());

    curve->setCurrentIndex(curve->findText("Time")); // 7 ms a state in the recording
    EXPECT_TRUE(extra->isVisible());
    EXPECT_EQ("Time", extra->chart()->title());
    auto* line = qobject_cast<QtCharts::QLineSeries*>(extra->chart()->series().first());
    ASSERT_EQ(50, line->count());
    EXPECT_EQ(QPointF(0.98, 49 * 7), line->at(49));
    curve->setCurrentIndex(0);
    EXPECT_FALSE(extra->isVisible());
}

TEST_F(ReplayWindowTest, DroppedFilesOpenAndBadOnesKeepTheOpenRecording)
{
    const QString other = files.write("trace.txt",
                                      "[10:00:00.000]\tx:1.000000,y:2.000000,z:3.000000\n"
                                      "[10:00:02.500]\tx:1.000000,y:2.000000,z:4.000000\n");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(other)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    EXPECT_EQ("0:00.000 / 0:02.500", shownTime().toStdString());
    EXPECT_EQ("QuvorReplay - trace.txt", window->windowTitle().toStdString());

    QTest::keyClick(window.get(), Qt::Key_End);
    ASSERT_TRUE(waitForCount(1));
    EXPECT_EQ(4, take()[0]["WorldZ"].toInt());
    EXPECT_EQ(2500, take()[0]["Time"].toInt());

    EXPECT_FALSE(window->openFile(files.path("missing.txt")));
    EXPECT_FALSE(window->openFile(files.write("empty.txt", "")));
    EXPECT_EQ("QuvorReplay - trace.txt", window->windowTitle().toStdString());
    EXPECT_EQ("0:02.500 / 0:02.500", shownTime().toStdString());
}

TEST(ReplayPlotsAttitude, ATraceSaysItHasNoAttitude)
{
    app();
    replay_test::RecordingFiles files;
    const struct {
        const char* name;
        QByteArray text;
        bool attitude;
    } cases[] = {
        {"trace.txt", "[10:00:00.000]\tx:0.000000,y:0.000000,z:1.000000\n[10:00:00.500]\tx:1.000000,y:0.000000,z:1.0\n",
         false},
        {"udp.txt", replay_test::udpLine(0, replay_test::state(1)) + replay_test::udpLine(20, replay_test::state(2)),
         true},
    };
    for (const auto& c : cases) {
        Recording recording;
        QString error;
        ASSERT_TRUE(recording.open(files.write(c.name, c.text), error)) << error.toStdString();
        ReplayPlots plots;
        plots.setData(recording.plots(), recording.durationMs());
        QtCharts::QChart* attitude = plots.chartView(2)->chart();
        EXPECT_EQ(c.attitude, !attitude->title().contains("none in this recording")) << c.name;
        for (QtCharts::QAbstractSeries* s : attitude->series()) {
            if (QStringList{"roll", "pitch", "yaw"}.contains(s->name())) {
                EXPECT_EQ(c.attitude, s->isVisible()) << c.name;
            }
        }
    }
}

// Each marker is a vertical line across every time chart, not in the legend.
TEST(ReplayPlotsMarkers, EveryChartShowsTheRunAndMotorMarkers)
{
    app();
    replay_test::RecordingFiles files;
    QByteArray text;
    for (int i = 0; i < 10; ++i)
        text += replay_test::udpLine(
            i * 100, QString("{\"WorldZ\":%1,\"MotorStarted\":%2}").arg(i).arg(i >= 3 && i < 7).toLatin1());
    Recording recording;
    QString error;
    ASSERT_TRUE(recording.open(files.write("udp.txt", text), error));
    ASSERT_EQ(4u, recording.plots().markers.size()); // run start, motors start and stop, run end
    ReplayPlots plots;
    plots.setData(recording.plots(), recording.durationMs());
    for (int chart = 0; chart < plots.chartCount(); ++chart) {
        QtCharts::QChart* c = plots.chartView(chart)->chart();
        QStringList lines;
        for (QtCharts::QAbstractSeries* s : c->series()) {
            auto* line = qobject_cast<QtCharts::QLineSeries*>(s);
            if (!line || !s->name().contains(QRegularExpression("^(run|motors) ")))
                continue;
            ASSERT_EQ(2, line->count());
            EXPECT_EQ(line->at(0).x(), line->at(1).x());
            lines << QString("%1@%2").arg(s->name()).arg(line->at(0).x());
            for (QtCharts::QLegendMarker* m : c->legend()->markers(s))
                EXPECT_FALSE(m->isVisible());
        }
        EXPECT_EQ(QStringList({"run start@0", "motors start@0.3", "motors stop@0.7", "run end@0.9"}), lines) << chart;
    }
    // New data replaces them.
    plots.setData(PlotData(), 0);
    EXPECT_EQ(2, plots.chartView(0)->chart()->series().size()) << "the curve and the cursor";
}

// The path from above: the dot is where the aircraft is at the cursor time, and
// a click near a corner seeks to when the aircraft was there.
TEST(ReplayPlotsTrack, TheTrackShowsThePathAndSeeksToAPlace)
{
    app();
    replay_test::RecordingFiles files;
    QByteArray text;
    // Round a 10 m square, one state per 100 ms: corners at 1, 2, 3 s.
    for (int i = 0; i <= 40; ++i) {
        const double s = (i % 10) / 10.0 * 10;
        const int side = i / 10;
        const double x = side == 0 ? s : side == 1 ? 10 : side == 2 ? 10 - s : 0;
        const double y = side == 0 ? 0 : side == 1 ? s : side == 2 ? 10 : 10 - s;
        text += replay_test::udpLine(i * 100, QString("{\"WorldX\":%1,\"WorldY\":%2}").arg(x).arg(y).toLatin1());
    }
    Recording recording;
    QString error;
    ASSERT_TRUE(recording.open(files.write("udp.txt", text), error));
    ReplayPlots plots;
    plots.resize(1200, 900);
    plots.setData(recording.plots(), recording.durationMs());
    plots.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plots));
    auto* path = qobject_cast<QtCharts::QLineSeries*>(plots.trackView()->chart()->series().first());
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(41, path->count());

    plots.setCursorTime(2050);
    EXPECT_EQ(QPointF(10, 10), plots.trackCursor());

    qint64 sought = -1;
    QObject::connect(&plots, &ReplayPlots::seekRequested, [&](qint64 ms) { sought = ms; });
    QtCharts::QChart* c = plots.trackView()->chart();
    const QPoint corner = plots.trackView()->mapFromScene(c->mapToScene(c->mapToPosition(QPointF(9.8, 0.1), path)));
    QTest::mouseClick(plots.trackView()->viewport(), Qt::LeftButton, {}, corner);
    EXPECT_EQ(1000, sought);
}

} // namespace
