// The engine on a hand-moved clock: what it sends, when it wakes, how it stops.
#include "ReplayEngine.h"

#include "ReplayTestFiles.h"
#include "common/Json.h"

#include <QCoreApplication>
#include <QUdpSocket>
#include <QVariantMap>

#include <gtest/gtest.h>

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
        QString error;
        ASSERT_TRUE(recording.open(files.write("udp.txt", text), error)) << error.toStdString();
        engine = std::make_unique<ReplayEngine>(recording, sender, false, [this] { return now; });
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
    Recording recording;
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

} // namespace
