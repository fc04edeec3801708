#include "logwindow/LogClass.h"

#include "tests/common/QtPrint.h"
#include "tests/logwindow/LogWindowProbe.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <QTemporaryDir>

#include <thread>
#include <utility>
#include <vector>

namespace {

const char16_t* u16(const QString& text) { return reinterpret_cast<const char16_t*>(text.utf16()); }

class LogWindow : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
};

TEST_F(LogWindow, LinesFromSeveralThreadsKeepTheirOrderInViewAndFile)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    LogClass log(u"several threads");
    log.SetLogPath(u16(path("threads.txt")));
    log.Save2File(true);

    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&log, t] {
            for (int n = 0; n < kLines; ++n)
                log.Append(u16(QStringLiteral("T%1 %2").arg(t).arg(n)));
        });
    }
    for (auto& writer : writers)
        writer.join();
    runQueuedWindowWork();

    const QStringList lines = shownLines(findLogWindow(QStringLiteral("several threads")));
    ASSERT_EQ(kThreads * kLines, lines.size());
    std::vector<int> next(kThreads, 0);
    static const QRegularExpression pattern(QStringLiteral("^T(\\d) (\\d+)$"));
    for (const QString& line : lines) {
        const auto match = pattern.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        EXPECT_EQ(next[match.captured(1).toInt()]++, match.captured(2).toInt()) << line.toStdString();
    }
    // The file holds the same lines in the same order as the view.
    EXPECT_EQ((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), fileBytes(path("threads.txt")));
}

TEST_F(LogWindow, OperationsTakeEffectInCallOrder)
{
    QFile earlier(path("a.txt"));
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier run\n");
    earlier.close();

    LogClass log(u"call order");
    std::thread worker([&] {
        log.SetLogPath(u16(path("a.txt")));
        log.Save2File(true);
        log.Append(u"1 H\u00f6he \u2713");
        log.SetEnabled(false);
        log.Append(u"dropped while disabled");
        log.SetEnabled(true);
        log.Append(u"2");
        log.Save2File(false);
        log.Append(u"3 shown, not saved");
        log.SetLogPath(u16(path("b.txt")));
        // Answered at once, before the GUI thread has run anything.
        EXPECT_EQ(path("b.txt"), QString::fromUtf16(log.GetCurDir()));
        log.Save2File(true);
        log.Append(u"4");
        log.ClearAll();
        log.Append(u"5");
        log.SetWindowTitle(u"call order done");
    });
    worker.join();
    runQueuedWindowWork();

    QWidget* window = findLogWindow(QStringLiteral("call order done"));
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(QStringList{QStringLiteral("5")}, shownLines(window));
    EXPECT_EQ(QByteArray("earlier run\n1 H\xc3\xb6he \xe2\x9c\x93\n2\n"), fileBytes(path("a.txt")));
    EXPECT_EQ(QByteArray("4\n5\n"), fileBytes(path("b.txt")));
}

TEST_F(LogWindow, ACallOnTheGuiThreadRunsAfterEarlierCallsFromOtherThreads)
{
    LogClass log(u"mixed threads");
    std::thread([&] { log.Append(u"from the worker"); }).join();
    // No event processing in between: the GUI-thread call must not overtake.
    log.Append(u"from the GUI thread");
    EXPECT_EQ((QStringList{QStringLiteral("from the worker"), QStringLiteral("from the GUI thread")}),
              shownLines(findLogWindow(QStringLiteral("mixed threads"))));
}

TEST_F(LogWindow, DisabledWindowStaysDisabledAndShowsNothing)
{
    LogClass log(u"disabled");
    log.SetLogPath(u16(path("disabled.txt")));
    log.Save2File(true);
    log.SetEnabled(false);
    log.Show(true);
    log.Append(u"line");
    QWidget* window = findLogWindow(QStringLiteral("disabled"));
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isEnabled());
    EXPECT_TRUE(shownLines(window).isEmpty());
    EXPECT_FALSE(QFile::exists(path("disabled.txt")));
}

TEST_F(LogWindow, GeometryIsStoredAndRestoredUnderItsPositionName)
{
    const QRect placed(120, 140, 420, 210);
    {
        LogClass first(u"first");
        first.SetWindowPosFileName(u"geometry_test");
        first.Show(true);
        QWidget* window = findLogWindow(QStringLiteral("first"));
        ASSERT_NE(nullptr, window);
        window->setGeometry(placed);
        first.Show(false);
    }
    LogClass same(u"same name");
    same.SetWindowPosFileName(u"geometry_test");
    LogClass other(u"other name");
    other.SetWindowPosFileName(u"geometry_other");
    EXPECT_EQ(placed, findLogWindow(QStringLiteral("same name"))->geometry());
    EXPECT_NE(placed, findLogWindow(QStringLiteral("other name"))->geometry());
}

TEST_F(LogWindow, AnOpenLogWindowDoesNotKeepTheProgramRunning)
{
    LogClass log(u"open log");
    log.Show(true);
    QWidget mainWindow;
    mainWindow.show();
    // Closing the last window only ends a running event loop.
    QTimer::singleShot(0, &mainWindow, &QWidget::close);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(10000);
    EXPECT_EQ(0, QApplication::exec());
}

TEST_F(LogWindow, AFloodKeepsTheNewestLinesAndSaysHowManyEachWindowLost)
{
    constexpr int kLines = LogClass::kMaxPendingLines + 600;
    LogClass first(u"flood first");
    LogClass second(u"flood second");
    first.SetLogPath(u16(path("first.txt")));
    first.Save2File(true);

    // Far more lines than the GUI thread is given a chance to take.
    std::thread([&] {
        for (int n = 0; n < kLines; ++n)
            (n % 2 ? second : first).Append(u16(QString::number(n)));
    }).join();
    EXPECT_LE(LogClass::pendingOperations(), size_t(LogClass::kMaxPendingLines));
    runQueuedWindowWork();

    // The oldest 600 went, half of them from each window.
    for (const auto& [window, parity] :
         {std::pair(QStringLiteral("flood first"), 0), std::pair(QStringLiteral("flood second"), 1)}) {
        SCOPED_TRACE(window.toStdString());
        const QStringList lines = shownLines(findLogWindow(window));
        ASSERT_EQ(LogClass::kMaxPendingLines / 2 + 1, lines.size());
        EXPECT_EQ(QString::number(600 + parity), lines.first());
        EXPECT_EQ(QString::number(kLines - 2 + parity), lines.at(lines.size() - 2));
        EXPECT_EQ(QStringLiteral("300 log lines dropped"), lines.last());
    }
    // The file misses the same lines and says so too.
    const QList<QByteArray> saved = fileBytes(path("first.txt")).split('\n');
    EXPECT_EQ("600", saved.first());
    EXPECT_EQ("300 log lines dropped", saved.at(saved.size() - 2));

    // Lines that fit are all kept, and no notice follows them.
    std::thread([&] { first.Append(u"after the flood"); }).join();
    runQueuedWindowWork();
    EXPECT_EQ(QStringLiteral("after the flood"), shownLines(findLogWindow(QStringLiteral("flood first"))).last());
}

TEST_F(LogWindow, QueuedLinesLeaveRoomForOtherEvents)
{
    LogClass log(u"slices");
    std::thread([&] {
        for (int n = 0; n < LogClass::kMaxPendingLines; ++n)
            log.Append(u"busy");
    }).join();
    // Posted after the lines: it must not wait until the last of them is shown.
    size_t pendingWhenRun = 0;
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&] { pendingWhenRun = LogClass::pendingOperations(), ran = true; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (!ran && !clock.hasExpired(30000))
        QCoreApplication::processEvents();
    ASSERT_TRUE(ran);
    EXPECT_GT(pendingWhenRun, 0u);
    runQueuedWindowWork();
    EXPECT_EQ(LogClass::kMaxPendingLines, shownLines(findLogWindow(QStringLiteral("slices"))).size());
}

TEST_F(LogWindow, RepeatedSettingsQueueNothing)
{
    LogClass log(u"settings");
    std::thread([&] {
        for (int n = 0; n < 1000; ++n) {
            log.SetFontSize(14);
            log.Save2File(false);
        }
    }).join();
    EXPECT_EQ(2u, LogClass::pendingOperations());
    runQueuedWindowWork();
}

TEST_F(LogWindow, NullTextsAreRefused)
{
    LogClass log(u"null texts");
    EXPECT_FALSE(log.Append(nullptr));
    EXPECT_FALSE(log.SetLogPath(nullptr));
    EXPECT_FALSE(log.SetWindowTitle(nullptr));
    EXPECT_TRUE(log.Append(u"still works"));
    EXPECT_EQ(QStringList{QStringLiteral("still works")}, shownLines(findLogWindow(QStringLiteral("null texts"))));
}

} // namespace
