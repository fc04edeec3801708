// The engine on a hand-moved clock: what it sends, when it wakes, how it stops.
#include "tools/replay/ReplayEngine.h"

#include "tests/tools/replay/ReplayTestFiles.h"
#include "common/Json.h"

#include <QCoreApplication>
#include <QFile>
#include <QUdpSocket>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace replay;

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "replay_engine_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

constexpr qint64 Ms = 1000; // clock units (µs) per ms

class ReplayEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QString error;
        ASSERT_TRUE(sender.setTarget("127.0.0.1", receiver.localPort(), error));
    }
    // Opens text as the recording and makes an engine on the test's clock.
    void open(const QByteArray& text)
    {
        engine.reset();
        recording = std::make_unique<Recording>();
        QString error;
        ASSERT_TRUE(recording->open(files.write("udp.txt", text), error)) << error.toStdString();
        engine = std::make_unique<ReplayEngine>(*recording, sender, false, [this] { return now; });
    }
    // "Time" of every datagram received so far.
    std::vector<int> times()
    {
        while (receiver.hasPendingDatagrams()) {
            QByteArray data(int(receiver.pendingDatagramSize()), '\0');
            receiver.readDatagram(data.data(), data.size());
            bool ok = false;
            received.push_back(Json::parse(QString::fromUtf8(data), ok).toMap().value("Time", -1).toInt());
        }
        return received;
    }

    replay_test::RecordingFiles files;
    QUdpSocket receiver;
    ReplaySender sender;
    std::unique_ptr<Recording> recording;
    std::unique_ptr<ReplayEngine> engine;
    qint64 now = 0;
    std::vector<int> received;
};

TEST_F(ReplayEngineTest, AWaitLongerThanATimerTakesIsWaitedInSteps)
{
    // Ten hours at 1/64: 640 hours of clock time, beyond any single timer interval.
    open(replay_test::udpLine(0, "{}") + replay_test::udpLine(10 * 3600 * 1000, "{}"));
    engine->setSpeed(1.0 / 64);
    engine->play();
    EXPECT_EQ(1, engine->sentCount());
    const qint64 dueUs = 10 * 3600 * Ms * 1000 * 64;
    while (engine->sentCount() < 2 && now < 2 * dueUs) {
        ASSERT_GT(engine->wakeInMs(), 0) << "no wake at " << now / Ms << " ms";
        now += engine->wakeInMs() * Ms;
        ASSERT_LE(now, dueUs + Ms) << "woke after the state was due";
        engine->onTimer();
    }
    EXPECT_EQ(2, engine->sentCount());
    EXPECT_GE(now, dueUs);
    EXPECT_EQ((std::vector<int>{0, 10 * 3600 * 1000}), times());
}

// Lines of "{}" at the given times (ms after the first).
QByteArray linesAt(const std::vector<qint64>& times)
{
    QByteArray text;
    for (qint64 t : times)
        text += replay_test::udpLine(t, "{}");
    return text;
}

TEST_F(ReplayEngineTest, ABurstLeavesInSlicesWithTheEventLoopBetweenThem)
{
    open(linesAt(std::vector<qint64>(5000, 0))); // all due at once
    std::vector<int> order;
    bool finished = false;
    QObject::connect(engine.get(), &ReplayEngine::stateSent, [&](int index) { order.push_back(index); });
    QObject::connect(engine.get(), &ReplayEngine::finished, [&] { finished = true; });
    engine->play();
    int calls = 1;
    while (!finished && calls < 5000) {
        ASSERT_LE(engine->sentCount(), qint64(calls) * ReplayEngine::SliceStates);
        ASSERT_EQ(0, engine->wakeInMs()) << "due states wait for a timer";
        engine->onTimer();
        ++calls;
    }
    EXPECT_TRUE(finished);
    EXPECT_GT(calls, 5000 / ReplayEngine::SliceStates);
    ASSERT_EQ(5000u, order.size());
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(i, order[size_t(i)]);
    EXPECT_EQ(0, engine->lateCount());
    EXPECT_EQ(0, engine->skippedCount());
}

TEST_F(ReplayEngineTest, FarBehindTheScheduleStatesLateByMoreThanAFrameAreSkippedButTheNewestLeaves)
{
    std::vector<qint64> everyMs;
    for (int i = 0; i <= 1000; ++i)
        everyMs.push_back(i);
    const std::vector<qint64> first300(everyMs.begin(), everyMs.begin() + 300);
    const struct {
        const char* name;
        std::vector<qint64> times;
        qint64 wokenAtMs; // the clock when the engine looks again after the first state
        std::vector<int> sent; // indices that leave then
        qint64 skipped, late;
    } cases[] = {
        // Due at 1..500 ms: those due more than a frame (1/60 s) before 500 ms are skipped.
        {"dense",
         everyMs,
         500,
         {484, 485, 486, 487, 488, 489, 490, 491, 492, 493, 494, 495, 496, 497, 498, 499, 500},
         483,
         0},
        // The only state due is sent however late, and counted.
        {"sparse", {0, 1000, 2000}, 1500, {1}, 0, 1},
        // The last state always leaves.
        {"end", first300, 5000, {299}, 298, 1},
        // A short delay (fewer due than a slice) is caught up, late.
        {"catch up", {0, 10, 20, 30}, 5000, {1, 2, 3}, 0, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open(linesAt(c.times));
        std::vector<int> sent;
        QObject::connect(engine.get(), &ReplayEngine::stateSent, [&](int index) { sent.push_back(index); });
        now = 0;
        engine->play();
        ASSERT_EQ(std::vector<int>{0}, sent);
        sent.clear();
        now = c.wokenAtMs * Ms;
        do
            engine->onTimer();
        while (engine->wakeInMs() == 0 && sent.size() < c.sent.size());
        EXPECT_EQ(c.sent, sent);
        EXPECT_EQ(c.skipped, engine->skippedCount());
        EXPECT_EQ(c.late, engine->lateCount());
        // The schedule is kept: the next state is due at its own time, not shifted.
        if (c.sent.back() + 1 < int(c.times.size())) {
            EXPECT_EQ(c.times[size_t(c.sent.back() + 1)] - c.wokenAtMs, engine->wakeInMs());
        }
    }
}

timespec written(QFile& file)
{
    struct stat st { };
    ::fstat(file.handle(), &st);
    return st.st_mtim;
}

void setWritten(QFile& file, time_t seconds, long nanoseconds = 0)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(0, ::futimens(file.handle(), times));
}

TEST_F(ReplayEngineTest, ARecordingChangedWhilePlayingStopsItWithAMessage)
{
    std::vector<qint64> times;
    for (int i = 0; i < 40; ++i)
        times.push_back(i * 10);
    const QByteArray original = linesAt(times);
    const struct {
        const char* name;
        std::function<void(QFile&)> change;
        bool keepsPlaying;
        const char* says;
    } cases[] = {
        {"cut to half", [&](QFile& f) { f.resize(original.size() / 2); }, false, "it is shorter now"},
        {"rewritten, same length",
         [&](QFile& f) {
             f.write(QByteArray(original).replace("{}", "[]"));
             f.flush();
             setWritten(f, written(f).tv_sec + 1);
         },
         false, "it was written to"},
        // Lines of other lengths, the time of change kept: the indexed lines are no longer there.
        {"other line lengths",
         [&](QFile& f) {
             const timespec before = written(f);
             f.write(QByteArray(original).replace("{}", "{\"Roll\":1}"));
             f.flush();
             setWritten(f, before.tv_sec, before.tv_nsec);
         },
         false, "is no longer where it was"},
        // A recorder still writing to the file: what was indexed stays as it was.
        {"appended", [&](QFile& f) { f.seek(f.size()), f.write(replay_test::udpLine(400, "{}")); }, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open(original);
        QString failure;
        QObject::connect(engine.get(), &ReplayEngine::failed, [&](const QString& text) { failure = text; });
        now = 0;
        engine->play();
        now = 50 * Ms;
        engine->onTimer();
        ASSERT_EQ(6, engine->sentCount());
        {
            QFile file(recording->path());
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            c.change(file);
        }
        now = 200 * Ms;
        engine->onTimer();
        if (c.keepsPlaying) {
            EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
            EXPECT_EQ(21, engine->sentCount());
            EXPECT_TRUE(engine->player().playing());
            continue;
        }
        EXPECT_EQ(6, engine->sentCount()) << "sent from a changed file";
        EXPECT_FALSE(engine->player().playing());
        EXPECT_EQ(-1, engine->wakeInMs());
        EXPECT_TRUE(failure.startsWith(recording->path() + " changed while it played")) << failure.toStdString();
        EXPECT_TRUE(failure.contains(c.says)) << failure.toStdString();
    }
}

} // namespace
