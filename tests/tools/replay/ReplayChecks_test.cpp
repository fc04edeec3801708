// A check file's verdicts in the replay window: listed beside the plots,
// marked on the timeline and the plots, and a click seeks there.
#include "tools/replay/ReplayChecks.h"
#include "tools/replay/ReplayPlots.h"
#include "tools/replay/ReplayWindow.h"

#include "tests/tools/replay/ReplayTestFiles.h"

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QUdpSocket>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>

#include <gtest/gtest.h>

using namespace replay;

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_checks_test";
    static char* argv[] = {name, nullptr};
    static QApplication a(argc, argv);
    return a;
}

int markSeries(ReplayPlots& plots)
{
    int n = 0;
    for (int i = 0; i < plots.chartCount(); ++i)
        for (QtCharts::QAbstractSeries* s : plots.chartView(i)->chart()->series())
            n += s->objectName() == "checkMark" ? 1 : 0;
    return n;
}

class ReplayChecksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QString error;
        ASSERT_TRUE(sender.setTarget("127.0.0.1", receiver.localPort(), error));
        QByteArray text;
        for (int i = 0; i < 200; ++i) // a state every 20 ms, WorldZ from 0 to 19.9
            text += replay_test::udpLine(1000 + i * 20, replay_test::state(i * 0.1, i));
        path = files.write("udp.txt", text);
        checks = files.write("c.toml",
                             "name = 'climb'\n"
                             "[[check]]\nname = 'below 10 m'\nvalue = 'height'\nmax = 10\n"
                             "[[check]]\nname = 'below 50 m'\nvalue = 'height'\nmax = 50\n"
                             "[[check]]\nname = 'ends low'\nvalue = 'height'\nmax = 1\nat = 'end'\n");
        window = std::make_unique<ReplayWindow>(sender, false);
        ASSERT_TRUE(window->openFile(path));
        window->resize(1200, 800);
        window->show();
    }

    replay_test::RecordingFiles files;
    QUdpSocket receiver;
    ReplaySender sender;
    QString path, checks;
    std::unique_ptr<ReplayWindow> window;
};

TEST_F(ReplayChecksTest, VerdictsAreListedMarkedAndAClickSeeksToThem)
{
    QVector<CheckMark> marks;
    QString summary, error;
    ASSERT_TRUE(judgeForReplay(checks, path, 0, marks, summary, error)) << error.toStdString();
    ASSERT_EQ(3, marks.size());
    EXPECT_FALSE(marks[0].passed);
    EXPECT_EQ(2020, marks[0].ms) << "recording time: the flight's start plus the time it failed";
    EXPECT_TRUE(marks[1].passed);
    EXPECT_FALSE(marks[2].passed);
    EXPECT_EQ(3980, marks[2].ms);

    showChecks(*window, summary, marks);
    auto* list = window->findChild<QListWidget*>("listWidget_checks");
    ASSERT_TRUE(list);
    ASSERT_EQ(3, list->count());
    EXPECT_EQ("FAIL  below 10 m", list->item(0)->text());
    EXPECT_EQ("PASS  below 50 m", list->item(1)->text());
    EXPECT_EQ(2 * window->plots()->chartCount(), markSeries(*window->plots()));
    QTest::qWait(50);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(2)).center());
    EXPECT_EQ(3980, window->engine()->positionMs());

    auto* timeline = window->findChild<CheckTimeline*>("checkTimeline");
    ASSERT_TRUE(timeline);
    EXPECT_EQ(-1, timeline->markAt(timeline->xOf(3000))) << "no failed check there";
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(timeline->xOf(2020), timeline->height() / 2));
    EXPECT_EQ(2020, window->engine()->positionMs());

    if (!qEnvironmentVariableIsEmpty("QUVOR_SCREENSHOT"))
        window->grab().save(qEnvironmentVariable("QUVOR_SCREENSHOT"));

    // Another recording: the verdicts of this one go.
    ASSERT_TRUE(window->openFile(files.write("other.txt", replay_test::udpLine(0, replay_test::state(1)))));
    QTest::qWait(10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window->findChild<QListWidget*>("listWidget_checks"));
    EXPECT_EQ(0, markSeries(*window->plots()));
}

TEST_F(ReplayChecksTest, ACheckFileThatDoesNotParseSaysWhere)
{
    QVector<CheckMark> marks;
    QString summary, error;
    const QString bad = files.write("bad.toml", "name = 'x'\n[[check]]\nvalue = 'hight'\nmax = 1\n");
    EXPECT_FALSE(judgeForReplay(bad, path, 0, marks, summary, error));
    EXPECT_TRUE(error.contains("bad.toml:3: unknown value \"hight\"")) << error.toStdString();
}

} // namespace
