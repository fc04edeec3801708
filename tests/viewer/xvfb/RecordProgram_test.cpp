// The real program from its own folder: settings taken from "UIconfig.ini",
// states over UDP on the system's port, the trace and panels on screen and the
// recordings on disk.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include "tests/viewer/xvfb/PixelWait.h"

#include "common/StateDatagram.h"

#include <unistd.h>

#include <functional>

namespace {

using pixel_test::waitFor;

QByteArray run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The only file below dir whose name is name, or empty.
QString findFile(const QString& dir, const QString& name)
{
    QDirIterator it(dir, {name}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? it.next() : QString();
}

class RecordProgramTest : public ::testing::Test {
protected:
    // The program keeps its settings beside itself, so it runs from a folder of
    // its own: a hard link of the binary and links to OGRE's files.
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString bin = QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR"));
        exe = dir.path() + "/QuvorSimulatorUI";
        if (::link(QFile::encodeName(bin + "/QuvorSimulatorUI").constData(), QFile::encodeName(exe).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(bin + "/QuvorSimulatorUI", exe));
        }
        for (const char* name : {"plugins.cfg", "ogre.cfg", "resources.cfg", "media", "QuvorSimulator.ico"})
            QFile::link(bin + "/" + name, dir.path() + "/" + name);
    }
    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.terminate();
            if (!program.waitForFinished(5000))
                program.kill();
            program.waitForFinished(5000);
        }
    }

    QTemporaryDir dir{QDir::currentPath() + "/record_program_XXXXXX"};
    QString exe;
    QProcess program;
};

TEST_F(RecordProgramTest, TracePanelsAndRecordingsFromTheSettingsFile)
{
    QFile settings(dir.path() + "/UIconfig.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(QString(R"({ "mCameraMovable" : true, "mCheckIP" : false, "mSavePath" : "%1/", )"
                           R"("m_save" : true, "m_show" : true, "m_speedRate" : 100, "m_udp_save" : true })")
                       .arg(dir.path())
                       .toUtf8());
    settings.close();

    const QString first = dir.path() + "/first.png";
    program.setWorkingDirectory(dir.path());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(exe, {"--screenshot", first, "--quit-after", "60"});
    ASSERT_TRUE(program.waitForStarted(10000));
    QString window;
    ASSERT_TRUE(waitFor(
        [&] {
            window = QString::fromLatin1(run("xdotool", {"search", "--onlyvisible", "--name", "^QuvorSimulator-UI$"}))
                         .section('\n', 0, 0);
            return QFile(first).size() > 0 && !window.isEmpty();
        },
        30000));

    // A replayed flight, one state every 50 ms: the trace gets a point every 300 ms.
    QUdpSocket sender;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500) {
        const double s = t.elapsed() / 1000.0;
        sender.writeDatagram(QString(R"({"Roll":0.25,"Pitch":0,"Yaw":0,"WorldX":%1,"WorldY":%2,"WorldZ":0.5,)"
                                     R"("Time":61234,"ProductType":1,"SimulatorCommand":1,"PlayBackEnabled":1,)"
                                     R"("SenderIP":"127.0.0.1"})")
                                 .arg(s)
                                 .arg(s / 2)
                                 .toUtf8(),
                             QHostAddress::LocalHost, StateDatagram::Port);
        QThread::msleep(50);
    }
    QThread::msleep(200);
    QImage shot;
    shot.loadFromData(run("import", {"-window", window, "png:-"}), "PNG");
    ASSERT_FALSE(shot.isNull());
    const QString keep = QString::fromLocal8Bit(qgetenv("QUVOR_SCREENSHOT_DIR"));
    if (!keep.isEmpty())
        shot.save(keep + "/program.png");

    const QRect view = shot.rect();
    EXPECT_GT(
        pixel_test::countPixels(shot, view, [](QRgb c) { return qBlue(c) > 180 && qRed(c) < 60 && qGreen(c) < 60; }),
        20)
        << "no blue trace";
    // The playback panel's dark text sits in the top-right corner, over the sky.
    const auto dark = [](QRgb c) { return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60; };
    EXPECT_GT(pixel_test::countPixels(shot, QRect(view.width() - 200, 0, 200, 70), dark), 50) << "no playback panel";
    EXPECT_GT(pixel_test::countPixels(shot, QRect(0, view.height() - 120, 220, 120), dark), 50) << "no parameter panel";

    const QByteArray trace = readFile(findFile(dir.path() + "/TRACE_FILES", "trace.txt"));
    const QByteArray udp = readFile(findFile(dir.path() + "/UDP_FILES", "udp.txt"));
    const QRegularExpression traceLine(R"(^\[\d\d:\d\d:\d\d\.\d{3}\]\tx:-?\d+\.\d{6},y:-?\d+\.\d{6},z:0\.500000$)");
    const QList<QByteArray> traceLines = trace.split('\n');
    ASSERT_GT(traceLines.size(), 10);
    EXPECT_TRUE(traceLine.match(QString::fromUtf8(traceLines.first())).hasMatch()) << traceLines.first().constData();
    EXPECT_TRUE(udp.contains("]\t{\"Roll\":0.25,"));
    EXPECT_TRUE(udp.endsWith("\"127.0.0.1\"}\n"));
}

} // namespace
