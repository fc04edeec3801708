// Two emulators and one --link: the link belongs to the one that serves it.
#include "tests/common/Poll.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

namespace {

QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "emulator_link_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

QString emulatorProgram() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")) + "/QuvorFlightEmulator"; }

struct Emulator {
    explicit Emulator(const QString& link)
    {
        process.start(emulatorProgram(), {"--link", link});
        started = pollUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 10000) &&
            process.state() == QProcess::Running;
    }
    ~Emulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
    bool started = false;
};

class EmulatorLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath("fc");
    }
    // Runs a second emulator on the link to its end.
    int runSecond(QString& err)
    {
        QProcess second;
        second.start(emulatorProgram(), {"--link", link});
        if (!second.waitForFinished(10000)) {
            second.kill();
            second.waitForFinished();
            return -1;
        }
        err = QString::fromLocal8Bit(second.readAllStandardError());
        return second.exitCode();
    }
    QTemporaryDir dir;
    QString link;
};

TEST_F(EmulatorLink, ASecondEmulatorLeavesALiveEmulatorsLinkAlone)
{
    Emulator first(link);
    ASSERT_TRUE(first.started);
    const QString terminal = QFileInfo(link).symLinkTarget();
    ASSERT_TRUE(terminal.startsWith("/dev/pts/")) << terminal.toStdString();

    QString err;
    EXPECT_EQ(1, runSecond(err));
    EXPECT_TRUE(err.contains(QString("QuvorFlightEmulator: %1 is the link of another emulator (pid %2, %3)")
                                 .arg(link)
                                 .arg(first.process.processId())
                                 .arg(terminal)))
        << err.toStdString();
    EXPECT_EQ(terminal, QFileInfo(link).symLinkTarget()) << "the first emulator keeps its link";
    EXPECT_EQ(QProcess::Running, first.process.state());
}

TEST_F(EmulatorLink, AStaleLinkIsTakenOver)
{
    // A link left by a killed emulator, once to a terminal that is gone and once
    // to one that lives on in another program (this test).
    int master = -1, slave = -1;
    char name[64] = {};
    ASSERT_EQ(0, openpty(&master, &slave, name, nullptr, nullptr));
    for (const QString& target : {QString("/dev/pts/999999"), QString::fromLocal8Bit(name)}) {
        SCOPED_TRACE(target.toStdString());
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(target, link));
        Emulator emulator(link);
        ASSERT_TRUE(emulator.started) << emulator.process.readAllStandardError().constData();
        const QString now = QFileInfo(link).symLinkTarget();
        EXPECT_NE(target, now);
        EXPECT_TRUE(now.startsWith("/dev/pts/")) << now.toStdString();
    }
    ::close(master);
    ::close(slave);
}

} // namespace
