// A flight recorded by the real programs (emulator -> host -> visualiser with
// "save UDP message" on) and played back by the replay program into a socket:
// every recorded datagram comes back once, as recorded, marked as a replay,
// with the recording's time.
#include "common/Json.h"
#include "tests/common/ProcessSignal.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "record_and_replay_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QString binDir() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")); }

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString findFile(const QString& dir, const QString& name)
{
    QDirIterator it(dir, {name}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(8000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

QVariantMap parsed(const QByteArray& datagram)
{
    bool ok = false;
    const QVariantMap map = Json::parse(QString::fromUtf8(datagram), ok).toMap();
    EXPECT_TRUE(ok) << datagram.constData();
    return map;
}

class RecordAndReplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
        // Each program runs from a folder of its own, so its settings are the test's.
        const QString bin = binDir();
        QDir().mkpath(dir.filePath("ui"));
        QDir().mkpath(dir.filePath("host"));
        ASSERT_TRUE(QFile::copy(bin + "/QuvorSimulatorUI", dir.filePath("ui/QuvorSimulatorUI")));
        for (const char* name : {"plugins.cfg", "ogre.cfg", "resources.cfg", "media", "QuvorSimulator.ico"})
            QFile::link(bin + "/" + name, dir.filePath(QString("ui/") + name));
        ASSERT_TRUE(QFile::copy(bin + "/QuvorSimulator", dir.filePath("host/QuvorSimulator")));
        for (QProcess* p : {&viewer, &host, &emulator})
            p->setProcessChannelMode(QProcess::MergedChannels);
    }
    void TearDown() override
    {
        for (QProcess* p : {&host, &emulator, &viewer})
            stop(*p);
    }
    void writeFile(const QString& path, const QByteArray& text)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    int recordedLines()
    {
        const QString udp = findFile(dir.filePath("ui/UDP_FILES"), "udp.txt");
        return udp.isEmpty() ? 0 : readFile(udp).count('\n');
    }

    QTemporaryDir dir{QDir::currentPath() + "/record_and_replay_XXXXXX"};
    QProcess viewer, host, emulator;
};

TEST_F(RecordAndReplay, AReplayedFlightIsTheRecordedFlight)
{
    // The visualiser, recording every datagram it accepts.
    writeFile(dir.filePath("ui/UIconfig.ini"),
              QString(R"({ "mCheckIP" : false, "mSavePath" : "%1/", "m_save" : false, "m_udp_save" : true })")
                  .arg(dir.filePath("ui"))
                  .toUtf8());
    const QString first = dir.filePath("ui/first.png");
    viewer.setWorkingDirectory(dir.filePath("ui"));
    viewer.start(dir.filePath("ui/QuvorSimulatorUI"), {"--screenshot", first, "--quit-after", "120"});
    ASSERT_TRUE(viewer.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile(first).size() > 0; }, 60000)) << viewer.readAll().constData();

    // The flight controller's stand-in and the host.
    const QString link = dir.filePath("fc");
    emulator.start(binDir() + "/QuvorFlightEmulator",
                   {"--link", link, "--product", "nerio", "--rate", "100", "--mission", "hover"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(link); }, 10000)) << emulator.readAll().constData();
    writeFile(dir.filePath("host/config.ini"),
              QString(R"({ "mFontSize" : 12, "m_latitude" : 10.5, "m_longitude" : 20.25, "m_path" : "%1/LOG_FILES/" })")
                  .arg(dir.filePath("host"))
                  .toUtf8());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    host.setProcessEnvironment(env);
    host.setWorkingDirectory(dir.filePath("host"));
    host.start(dir.filePath("host/QuvorSimulator"), {"--port", link, "--auto-start", "--no-auto-ui"});
    ASSERT_TRUE(host.waitForStarted(10000));

    // Three seconds of flight or so, then the host stops the run and goes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return recordedLines() >= 300; }, 60000))
        << recordedLines() << " lines; host said: " << host.readAll().constData();
    signalProcess(host.processId(), SIGTERM);
    ASSERT_TRUE(host.waitForFinished(10000));
    stop(emulator);
    stop(viewer);

    const QByteArray recording = readFile(findFile(dir.filePath("ui/UDP_FILES"), "udp.txt"));
    const QList<QByteArray> lines = recording.split('\n').mid(0, recording.count('\n'));
    ASSERT_GE(lines.size(), 300);

    // Played back at 4×, into a socket of the test's own.
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
    receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
    QList<QByteArray> received;
    auto drain = [&] {
        while (receiver.hasPendingDatagrams()) {
            QByteArray data(int(receiver.pendingDatagramSize()), '\0');
            receiver.readDatagram(data.data(), data.size());
            received.append(data);
        }
    };
    QProcess replay;
    replay.setProcessChannelMode(QProcess::MergedChannels);
    replay.start(binDir() + "/QuvorReplay",
                 {findFile(dir.filePath("ui/UDP_FILES"), "udp.txt"), "--no-gui", "--speed", "4", "--to",
                  QString("127.0.0.1:%1").arg(receiver.localPort())});
    QElapsedTimer clock;
    clock.start();
    while (!replay.waitForFinished(5) && clock.elapsed() < 120000)
        drain();
    drain();
    ASSERT_EQ(QProcess::NormalExit, replay.exitStatus());
    ASSERT_EQ(0, replay.exitCode()) << replay.readAll().constData();
    EXPECT_TRUE(replay.readAll().isEmpty()) << "no line of the recording was skipped";

    ASSERT_EQ(lines.size(), received.size());
    qint64 start = -1, previousTime = 0;
    for (int i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray& line = lines[i];
        ASSERT_EQ('[', line[0]);
        const qint64 stamp =
            ((line.mid(1, 2).toInt() * 60 + line.mid(4, 2).toInt()) * 60 + line.mid(7, 2).toInt()) * 1000LL +
            line.mid(10, 3).toInt();
        if (start < 0)
            start = stamp;
        const qint64 expectedTime = (stamp - start + 86400000) % 86400000;

        QVariantMap recorded = parsed(line.mid(15));
        QVariantMap sent = parsed(received[i]);
        EXPECT_EQ(1, sent.value("PlayBackEnabled").toInt());
        EXPECT_EQ(expectedTime, sent.value("Time").toLongLong());
        EXPECT_GE(sent.value("Time").toLongLong(), previousTime);
        previousTime = sent.value("Time").toLongLong();
        for (QVariantMap* m : {&recorded, &sent}) {
            m->remove("PlayBackEnabled");
            m->remove("Time");
        }
        EXPECT_EQ(recorded, sent) << line.constData() << "\n" << received[i].constData();
        // Every other byte as recorded: the text only gains the playback flag.
        QByteArray withoutPlayback = received[i];
        withoutPlayback.replace(",\"PlayBackEnabled\":1", "");
        const QByteArray recordedText = line.mid(15);
        const int timeAt = recordedText.indexOf("\"Time\":");
        if (timeAt >= 0) {
            EXPECT_EQ(recordedText.left(timeAt), withoutPlayback.left(timeAt));
        }
    }
    // A recording of a real flight: states on a changing height.
    EXPECT_GT(previousTime, 2000);
}

} // namespace
