// `cmake --install` into a scratch prefix, then the installed programs run from
// it with HOME pointing at a scratch folder: nothing may land in the tree.
#include "tests/install/InstallSupport.h"
#include "tests/common/ProcessSignal.h"

#include "common/Json.h"

#include <QFile>
#include <QRegularExpression>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <csignal>

using namespace install_test;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One line "key=value" of an ini-like text, empty when absent.
QString valueOf(const QByteArray& text, const QString& key)
{
    for (const QByteArray& line : text.split('\n')) {
        const QString l = QString::fromUtf8(line).trimmed();
        if (l.startsWith(key + "="))
            return l.mid(key.size() + 1);
    }
    return QString();
}

class InstalledTree : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        app();
        prefixDir = new QTemporaryDir;
        installResult = new Result(
            run(envPath("QUVOR_CMAKE"), {"--install", envPath("QUVOR_BUILD_DIR"), "--prefix", prefixDir->path()}));
    }
    static void TearDownTestSuite()
    {
        delete installResult;
        delete prefixDir;
    }
    void SetUp() override { ASSERT_EQ(0, installResult->code) << installResult->output.constData(); }

    static QString prefix() { return prefixDir->path(); }

    // The environment of a user whose home is the test's scratch folder.
    QProcessEnvironment userEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("XDG_CONFIG_HOME");
        env.remove("XDG_DATA_HOME");
        return env;
    }
    QString configDir() const { return home.path() + "/.config/Quvor"; }
    QString dataDir() const { return home.path() + "/.local/share/Quvor"; }

    static QTemporaryDir* prefixDir;
    static Result* installResult;
    QTemporaryDir home;
};
QTemporaryDir* InstalledTree::prefixDir = nullptr;
Result* InstalledTree::installResult = nullptr;

// Programs that use UDP port 5566 run in a network namespace of their own where
// one is to be had (root, as in CI): other test runs on the machine send states
// to that port, and the programs here would otherwise see theirs and they ours.
QStringList isolated(const QString& program, const QStringList& args)
{
    static const bool canUnshare = run("unshare", {"--net", "true"}, 10000).code == 0;
    return canUnshare ? QStringList{"unshare", "--net", "--", program} + args : QStringList{program} + args;
}

// The emulator on a pseudo-terminal in the scratch home, as the aircraft; its
// output goes to a file, where it cannot fill a pipe nobody reads.
class Emulator {
public:
    Emulator(const QString& program, const QString& link) : mLink(link), mLog(link + ".log")
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(mLog);
        process.start(program, {"--link", link, "--product", "nerio", "--rate", "100", "--mission", "hover"});
        process.waitForStarted(10000);
    }
    ~Emulator()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool ready()
    {
        return waitFor([&] { return QFileInfo::exists(mLink) || process.state() == QProcess::NotRunning; }, 20000) &&
            process.state() == QProcess::Running;
    }
    QByteArray output() const { return readAll(mLog); }

    QProcess process;

private:
    QString mLink;
    QString mLog;
};

// The installed host on the emulator's port; ended with SIGTERM like Ctrl+C.
class Host {
public:
    Host(const QString& program, const QString& link, const QProcessEnvironment& env) : mLog(link + ".host.log")
    {
        QFile::remove(mLog);
        QProcessEnvironment e = env;
        e.remove("DISPLAY");
        e.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(e);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(mLog);
        const QStringList command = isolated(program, {"--port", link, "--auto-start", "--no-auto-ui"});
        process.start(command.first(), command.mid(1));
        process.waitForStarted(10000);
    }
    ~Host() { stop(); }
    bool stop()
    {
        if (process.state() == QProcess::NotRunning)
            return true;
        signalProcess(process.processId(), SIGTERM);
        if (process.waitForFinished(20000))
            return true;
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    QByteArray output() const { return readAll(mLog); }

    QProcess process;

private:
    QString mLog;
};

TEST_F(InstalledTree, HoldsTheProgramsResourcesMenuEntriesManualPagesAndUdevRule)
{
    for (const QString& program : builtPrograms())
        EXPECT_TRUE(QFileInfo(prefix() + "/bin/" + program).isExecutable()) << program.toStdString();
    for (const QString& file : installedFiles())
        EXPECT_GT(QFileInfo(prefix() + "/" + file).size(), 0) << file.toStdString();
    // Nothing of the build's own: no settings, logs or OGRE files beside the programs.
    QStringList unexpected = QDir(prefix() + "/bin").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& program : builtPrograms())
        unexpected.removeAll(program);
    EXPECT_TRUE(unexpected.isEmpty()) << unexpected.join(' ').toStdString();
}

TEST_F(InstalledTree, MenuIconsAreDrawnAtTheirSize)
{
    for (int size : {48, 128, 256}) {
        const QImage icon(QString("%1/share/icons/hicolor/%2x%2/apps/quvor.png").arg(prefix()).arg(size));
        ASSERT_EQ(QSize(size, size), icon.size()) << size;
        EXPECT_TRUE(icon.hasAlphaChannel());
        // Drawn, not a blank tile: the centre differs from the transparent corner.
        EXPECT_EQ(0, qAlpha(icon.pixel(0, 0))) << size;
        EXPECT_NE(icon.pixel(0, 0), icon.pixel(size / 2, size / 2)) << size;
    }
}

TEST_F(InstalledTree, MenuEntriesStartInstalledProgramsWithTheIcon)
{
    const struct {
        const char* file;
        const char* program;
        const char* exec;
    } entries[] = {{"quvor-simulator.desktop", "QuvorSimulator", "QuvorSimulator"},
                   {"quvor-simulator-ui.desktop", "QuvorSimulatorUI", "QuvorSimulatorUI"},
                   // Started from the menu with no file, it asks for one.
                   {"quvor-replay.desktop", "QuvorReplay", "QuvorReplay --choose-file %f"}};
    for (const auto& entry : entries) {
        if (!builtPrograms().contains(entry.program))
            continue;
        const QString path = prefix() + "/share/applications/" + entry.file;
        const QByteArray text = readAll(path);
        EXPECT_EQ(entry.exec, valueOf(text, "Exec")) << entry.file;
        EXPECT_EQ("quvor", valueOf(text, "Icon")) << entry.file;
        EXPECT_TRUE(QFileInfo(prefix() + "/bin/" + entry.program).isExecutable()) << entry.file;
        const Result check = run("desktop-file-validate", {path});
        EXPECT_EQ(0, check.code) << "desktop-file-validate: " << check.output.constData();
        EXPECT_FALSE(check.output.contains("error")) << check.output.constData();
    }
}

TEST_F(InstalledTree, OgreConfigurationUsesTheSystemPluginsAndTheInstalledMedia)
{
    const QString share = prefix() + "/share/quvor";
    const QString plugins = valueOf(readAll(share + "/plugins.cfg"), "PluginFolder");
    EXPECT_TRUE(QFileInfo(plugins + "/RenderSystem_GL.so").exists()) << plugins.toStdString();
    const QByteArray resources = readAll(share + "/resources.cfg");
    // Relative to the configuration's own folder, so the tree may move.
    EXPECT_EQ("./media", valueOf(resources, "FileSystem"));
    EXPECT_FALSE(resources.contains(envPath("QUVOR_BUILD_DIR").toUtf8())) << "no build path";
    EXPECT_TRUE(QFileInfo(valueOf(resources, "Zip")).exists());
    EXPECT_EQ("OpenGL Rendering Subsystem", valueOf(readAll(share + "/ogre.cfg"), "Render System"));
}

TEST_F(InstalledTree, ManualPagesComeFromEachProgramsHelp)
{
    const struct {
        const char* program;
        const char* option; // one option its help names
    } pages[] = {{"QuvorSimulator", "port"},
                 {"QuvorSimulatorUI", "screenshot"},
                 {"QuvorFlightEmulator", "link"},
                 {"QuvorReplay", "speed"},
                 {"QuvorCheck", "junit"}};
    for (const auto& page : pages) {
        if (!builtPrograms().contains(page.program))
            continue;
        const Result text = run("gzip", {"-dc", prefix() + "/share/man/man1/" + page.program + ".1.gz"});
        ASSERT_EQ(0, text.code) << page.program;
        EXPECT_TRUE(text.output.contains(".TH " + QByteArray(page.program).toUpper())) << page.program;
        EXPECT_TRUE(text.output.contains("\\-\\-" + QByteArray(page.option))) << page.program;
        EXPECT_FALSE(text.output.contains(envPath("QUVOR_BUILD_DIR").toUtf8())) << page.program << ": build path";
        for (const char* section : {"DESCRIPTION", "OPTIONS", "\"EXIT STATUS\"", "FILES", "EXAMPLES", "\"SEE ALSO\""})
            EXPECT_EQ(1, text.output.count(".SH " + QByteArray(section))) << page.program << ": " << section;
        EXPECT_FALSE(text.output.contains(".SS \"Exit status:\"")) << page.program << ": exit status twice";
        // Every option the program's help names is on its page.
        const Result help = run(prefix() + "/bin/" + page.program, {"--help"});
        const QRegularExpression option(R"(^  (--[a-z-]+))", QRegularExpression::MultilineOption);
        for (auto m = option.globalMatch(QString::fromUtf8(help.output)); m.hasNext();) {
            const QString name = m.next().captured(1);
            EXPECT_TRUE(text.output.contains(name.toUtf8().replace("-", "\\-")))
                << page.program << ": " << name.toStdString();
        }
    }
}

TEST_F(InstalledTree, HostKeepsSettingsAndLogsUnderTheUsersHome)
{
    const QStringList before = listing(prefix());
    const QString link = home.path() + "/fc";
    Emulator emulator(prefix() + "/bin/QuvorFlightEmulator", link);
    ASSERT_TRUE(emulator.ready()) << emulator.output().constData();

    // A first run with no settings: the folders are made, the settings written
    // there, and the default log root lies in the data folder.
    {
        Host host(prefix() + "/bin/QuvorSimulator", link, userEnvironment());
        ASSERT_TRUE(waitFor([&] { return QFileInfo(configDir() + "/config.ini").size() > 0; }, 30000))
            << host.output().constData();
        EXPECT_TRUE(host.stop());
        EXPECT_TRUE(host.output().contains("settings are read from " + configDir().toUtf8()))
            << host.output().constData();
        EXPECT_EQ(1, host.output().count("settings are read from")) << "said once";
    }
    bool ok = false;
    QVariantMap settings = Json::parse(QString::fromUtf8(readAll(configDir() + "/config.ini")), ok).toMap();
    ASSERT_TRUE(ok);
    EXPECT_EQ(dataDir() + "/LOG_FILES/", settings.value("m_path").toString());
    EXPECT_TRUE(QFileInfo(dataDir() + "/LOG_FILES").isDir());

    // With saving switched on the aircraft's log messages are written there.
    settings["m_save"] = true;
    {
        QFile file(configDir() + "/config.ini");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(Json::serialize(settings));
    }
    {
        Host host(prefix() + "/bin/QuvorSimulator", link, userEnvironment());
        const bool logged = waitFor(
            [&] {
                QDirIterator files(dataDir() + "/LOG_FILES", {"Log_type_*.txt"}, QDir::Files,
                                   QDirIterator::Subdirectories);
                return files.hasNext() && QFileInfo(files.next()).size() > 0;
            },
            60000);
        EXPECT_TRUE(logged) << host.output().constData() << "\nemulator:\n" << emulator.output().constData();
        EXPECT_TRUE(host.stop());
    }
    EXPECT_EQ(before, listing(prefix())) << "the installed tree stays untouched";
}

TEST_F(InstalledTree, VisualiserDrawsTheSceneFromTheInstalledMedia)
{
    ASSERT_FALSE(qgetenv("DISPLAY").isEmpty()) << "runs under xvfb-run";
    const QStringList before = listing(prefix());
    const QString shot = home.path() + "/shot.png";
    QProcess viewer;
    viewer.setProcessEnvironment(userEnvironment());
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    viewer.setWorkingDirectory(home.path());
    const QStringList command =
        isolated(prefix() + "/bin/QuvorSimulatorUI", {"--screenshot", shot, "--quit-after", "120"});
    viewer.start(command.first(), command.mid(1));
    ASSERT_TRUE(viewer.waitForStarted(10000));
    const bool written =
        waitFor([&] { return QFileInfo(shot).size() > 0 || viewer.state() == QProcess::NotRunning; }, 90000);
    viewer.terminate();
    if (!viewer.waitForFinished(10000)) {
        viewer.kill();
        viewer.waitForFinished(5000);
    }
    const QByteArray output = viewer.readAll();
    ASSERT_TRUE(written && QFileInfo(shot).size() > 0) << output.constData();

    const QImage image = QImage(shot).convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(image.isNull());
    const auto fraction = [&](const QRect& area, bool (*match)(QRgb)) {
        int hits = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                hits += match(image.pixel(x, y));
        return double(hits) / double(area.width() * area.height());
    };
    const auto sky = [](QRgb c) { return qBlue(c) > 150 && qBlue(c) >= qGreen(c) && qBlue(c) >= qRed(c); };
    const auto grass = [](QRgb c) { return qGreen(c) > qRed(c) + 30 && qGreen(c) > qBlue(c) + 30; };
    const int w = image.width(), h = image.height();
    EXPECT_GT(fraction(QRect(0, 0, w, h / 10), sky), 0.9) << "sky along the top";
    EXPECT_GT(fraction(QRect(0, h * 8 / 10, w, h / 5), grass), 0.9) << "grass along the bottom";

    EXPECT_TRUE(output.contains("settings are read from " + configDir().toUtf8())) << output.constData();
    EXPECT_TRUE(QFileInfo(configDir() + "/UIconfig.ini").size() > 0);
    EXPECT_TRUE(QFileInfo(dataDir() + "/Ogre.log").size() > 0);
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/Ogre.log")) << "not in the working folder";
    EXPECT_EQ(before, listing(prefix())) << "the installed tree stays untouched";
}

} // namespace
