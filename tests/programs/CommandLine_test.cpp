// The programs as a shell runs them: one version line, help, exit 2 and the
// program's own name for a bad option, and a plain word when a display is missing.
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString binDir() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")); }

struct Result {
    int code = -1;
    QString out, err;
};

// No display and no Qt platform unless the case gives one.
Result run(const QString& program, const QStringList& args, const QStringList& env = {})
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        e.remove(name);
    for (const QString& pair : env)
        e.insert(pair.section('=', 0, 0), pair.section('=', 1));
    QProcess p;
    p.setProcessEnvironment(e);
    p.start(binDir() + "/" + program, args);
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

bool built(const QString& program) { return QFileInfo(binDir() + "/" + program).isExecutable(); }

const QStringList kPrograms = {"QuvorSimulator", "QuvorSimulatorUI", "QuvorFlightEmulator", "QuvorReplay",
                               "QuvorCheck"};

TEST(CommandLine, EveryProgramHasVersionHelpAndExitTwoForABadOption)
{
    const QString version = QString::fromLocal8Bit(qgetenv("QUVOR_VERSION"));
    ASSERT_FALSE(version.isEmpty());
    for (const QString& program : kPrograms) {
        if (!built(program))
            continue;
        SCOPED_TRACE(program.toStdString());
        const Result v = run(program, {"--version"});
        EXPECT_EQ(0, v.code) << v.err.toStdString();
        EXPECT_EQ(QString("%1 (Quvor) %2\n").arg(program, version), v.out);

        const Result h = run(program, {"--help"});
        EXPECT_EQ(0, h.code) << h.err.toStdString();
        EXPECT_TRUE(h.out.startsWith("Usage: " + program + " ")) << h.out.toStdString();
        EXPECT_TRUE(h.out.contains("--version"));

        for (const QStringList& bad : {QStringList{"--no-such-option"}, QStringList{"--version=2"}}) {
            const Result b = run(program, bad);
            EXPECT_EQ(2, b.code) << bad.join(' ').toStdString();
            EXPECT_TRUE(b.err.startsWith(program + ": ")) << b.err.toStdString();
            EXPECT_TRUE(b.err.contains(bad.first().section('=', 0, 0))) << b.err.toStdString();
            EXPECT_FALSE(b.err.contains(binDir())) << "names the program, not its path";
        }
    }
}

// A newcomer reads the README first: every option a program's help names is there.
TEST(CommandLine, TheReadmeNamesEveryOption)
{
    QFile readme(QString::fromLocal8Bit(qgetenv("QUVOR_SOURCE_DIR")) + "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const QRegularExpression option(R"(^  (--[a-z-]+))", QRegularExpression::MultilineOption);
    for (const QString& program : kPrograms) {
        if (!built(program))
            continue;
        const Result h = run(program, {"--help"});
        int options = 0;
        for (auto m = option.globalMatch(h.out); m.hasNext(); ++options) {
            const QString name = m.next().captured(1);
            EXPECT_TRUE(text.contains("`" + name) || text.contains("[" + name))
                << program.toStdString() << " " << name.toStdString();
        }
        EXPECT_GT(options, 2) << program.toStdString();
    }
}

TEST(CommandLine, WindowsWithoutADisplaySaySoAndExitOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char* program;
        QStringList args;
        QStringList env;
        const char* says;
    } cases[] = {
        {"QuvorSimulatorUI", {}, {}, "no display (DISPLAY is not set)"},
        {"QuvorSimulatorUI", {"--quit-after", "1"}, {"DISPLAY=:4711"}, "cannot connect to the X display :4711"},
        {"QuvorSimulatorUI", {}, {"QT_QPA_PLATFORM=xcb"}, "no display (DISPLAY is not set)"},
        {"QuvorReplay", {}, {}, "no display (DISPLAY is not set)"},
        {"QuvorReplay", {dir.filePath("udp.txt")}, {"DISPLAY=:4711"}, "cannot connect to the X display :4711"},
    };
    for (const auto& c : cases) {
        if (!built(c.program))
            continue;
        SCOPED_TRACE(QString("%1 %2 %3").arg(c.program, c.args.join(' '), c.env.join(' ')).toStdString());
        const Result r = run(c.program, c.args, c.env);
        EXPECT_EQ(1, r.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QString(c.program) + ": " + c.says)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("needs a display")) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("Reinstalling")) << "Qt's own abort";
    }
}

TEST(CommandLine, ReplaysWindowlessModesNeedNoDisplay)
{
    if (!built("QuvorReplay"))
        GTEST_SKIP() << "no QuvorReplay in this build";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("udp.txt");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 20; ++i)
            f.write(QString("[10:00:00.%1]\t{\"x\":%2,\"y\":0,\"z\":1,\"ProductType\":0}\n")
                        .arg(100 + i * 20)
                        .arg(i * 0.1)
                        .toUtf8());
    }
    const Result summary = run("QuvorReplay", {file, "--summary"});
    EXPECT_EQ(0, summary.code) << summary.err.toStdString();
    EXPECT_FALSE(summary.out.isEmpty());

    const QString png = dir.filePath("plots.png");
    const Result plot = run("QuvorReplay", {file, "--plot", png});
    EXPECT_EQ(0, plot.code) << plot.err.toStdString();
    EXPECT_FALSE(QImage(png).isNull());

    // A bad value is found before anything else is tried.
    const Result speed = run("QuvorReplay", {"--speed", "0", file});
    EXPECT_EQ(2, speed.code) << speed.err.toStdString();
    EXPECT_TRUE(speed.err.startsWith("QuvorReplay: --speed")) << speed.err.toStdString();
}

TEST(CommandLine, TheHostWithoutADisplayRunsOffScreenAndNamesAMissingPort)
{
    if (!built("QuvorSimulator"))
        GTEST_SKIP() << "no QuvorSimulator in this build";
    QTemporaryDir dir;
    const Result r = run("QuvorSimulator", {"--port", dir.filePath("no-such-port")});
    EXPECT_EQ(1, r.code) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("QuvorSimulator: cannot open the aircraft port " + dir.filePath("no-such-port") +
                               ": No such file or directory."))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Serial ports here: ") || r.err.contains("There is no serial port on this machine."))
        << r.err.toStdString();
}

} // namespace
