#include "host/HostSettings.h"

#include <gtest/gtest.h>

#include "tests/link/LogCapture.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void write(const QByteArray& content)
    {
        QFile file(settingsFilePath(dir.path()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray read() const
    {
        QFile file(settingsFilePath(dir.path()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QTemporaryDir dir;
};

void expectSame(const HostSettings& expected, const HostSettings& actual)
{
    EXPECT_EQ(expected.mAutoUI, actual.mAutoUI);
    EXPECT_EQ(expected.mFontSize, actual.mFontSize);
    EXPECT_EQ(expected.mUdpBroadcast, actual.mUdpBroadcast);
    EXPECT_EQ(expected.m_info, actual.m_info);
    EXPECT_DOUBLE_EQ(expected.m_latitude, actual.m_latitude);
    EXPECT_DOUBLE_EQ(expected.m_longitude, actual.m_longitude);
    EXPECT_EQ(expected.m_path, actual.m_path);
    EXPECT_EQ(expected.m_save, actual.m_save);
    EXPECT_EQ(expected.m_show, actual.m_show);
    EXPECT_EQ(expected.m_time, actual.m_time);
}

TEST_F(SettingsFile, DefaultsAreWrittenAsOneLineInKeyOrder)
{
    writeSettingsFile(dir.path(), HostSettings::defaults(dir.path()));
    const QByteArray expected = "{ \"mAutoUI\" : false, \"mFontSize\" : 12, \"mUdpBroadcast\" : false, "
                                "\"m_info\" : false, \"m_latitude\" : 22.537018, \"m_longitude\" : 113.95364, "
                                "\"m_path\" : \"" +
        dir.path().toUtf8() +
        "/LOG_FILES/\", \"m_save\" : false, "
        "\"m_show\" : false, \"m_time\" : true }";
    EXPECT_EQ(expected, read());
}

TEST_F(SettingsFile, UnusableFilesGiveTheDefaults)
{
    const HostSettings defaults = HostSettings::defaults(dir.path());
    expectSame(defaults, readSettingsFile(dir.path())); // no file at all
    // Anything but an object counts as no file, even where the lenient reader
    // finds a value at its start.
    for (const QByteArray& content :
         {QByteArray(""), QByteArray("{ \"mFontSize\" : "), QByteArray("not json"), QByteArray("5 not json at all"),
          QByteArray("[1, 2]"), QByteArray("\"text\""), QByteArray("true"), QByteArray("null")}) {
        SCOPED_TRACE(content.constData());
        write(content);
        expectSame(defaults, readSettingsFile(dir.path()));
    }
}

TEST_F(SettingsFile, MissingKeysGiveEmptyValuesNotDefaults)
{
    HostSettings empty;
    empty.mFontSize = 0;
    empty.m_time = false;
    empty.m_latitude = 0;
    empty.m_longitude = 0;
    empty.m_path = HostSettings::defaults(dir.path()).m_path;
    write("{}");
    expectSame(empty, readSettingsFile(dir.path()));

    write("{ \"m_save\" : true, \"mFontSize\" : 250 }");
    const HostSettings partial = readSettingsFile(dir.path());
    EXPECT_TRUE(partial.m_save);
    EXPECT_EQ(250, partial.mFontSize); // clamping is the dialog's spin box's job
    EXPECT_FALSE(partial.m_time);
}

TEST_F(SettingsFile, LogRootThatIsNoUsableTextIsTheDefaultOne)
{
    const QString fallback = dir.path() + "/LOG_FILES/";
    const struct {
        QByteArray content;
        QString expected;
    } cases[] = {
        {"{ \"m_save\" : true }", fallback},
        {"{ \"m_path\" : \"\" }", fallback},
        {"{ \"m_path\" : 5 }", fallback},
        {"{ \"m_path\" : true }", fallback},
        {"{ \"m_path\" : null }", fallback},
        {"{ \"m_path\" : [ \"/x/\" ] }", fallback},
        {"{ \"m_path\" : { \"a\" : 1 } }", fallback},
        {"{ \"m_path\" : \" \" }", " "},
        {"{ \"m_path\" : \"/data/LOG_FILES/\" }", "/data/LOG_FILES/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.constData());
        write(c.content);
        EXPECT_EQ(c.expected, readSettingsFile(dir.path()).m_path);
    }
}

TEST_F(SettingsFile, OversizedFileIsRefusedWithOneConsoleLine)
{
    // Text after the object is ignored, so padding makes a valid file of any size.
    const QByteArray object = "{ \"m_save\" : true, \"m_path\" : \"/data/\" }";
    write(object + QByteArray(int(MaxSettingsFileBytes) - object.size(), ' '));
    {
        LogCapture console;
        EXPECT_TRUE(readSettingsFile(dir.path()).m_save);
        EXPECT_EQ("", console.text());
    }

    const QByteArray huge = "{ \"m_save\" : true, \"m_path\" : \"" + QByteArray(50 * 1024 * 1024, 'x') + "\" }";
    for (const QByteArray& content : {object + QByteArray(int(MaxSettingsFileBytes) - object.size() + 1, ' '), huge}) {
        write(content);
        LogCapture console;
        expectSame(HostSettings::defaults(dir.path()), readSettingsFile(dir.path()));
        const std::string said = console.text();
        EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        EXPECT_NE(std::string::npos, said.find(settingsFilePath(dir.path()).toStdString())) << said;
    }
}

TEST_F(SettingsFile, RoundTripKeepsEveryValueAndAwkwardPaths)
{
    HostSettings s;
    s.mAutoUI = true;
    s.mFontSize = 37;
    s.mUdpBroadcast = true;
    s.m_info = true;
    s.m_latitude = -45.5;
    s.m_longitude = 179.25;
    s.m_path = QString::fromUtf8("/tmp/a \"quoted\" \\ folder/Flüge/LOG_FILES/");
    s.m_save = true;
    s.m_show = true;
    s.m_time = false;
    writeSettingsFile(dir.path(), s);
    EXPECT_TRUE(read().contains("a \\\"quoted\\\" \\\\ folder")) << read().constData();
    expectSame(s, readSettingsFile(dir.path()));
}

TEST_F(SettingsFile, PositionsReadBackExactly)
{
    const double values[][2] = {
        {22.537018, 113.95364},
        {22.537123, -113.953641},
        {-89.999999999999, 179.99999999999997},
        {1e-300, -4.9406564584124654e-324},
        {1e300, -1.7976931348623157e308},
        {0.0, -0.0},
    };
    for (const auto& value : values) {
        HostSettings s = HostSettings::defaults(dir.path());
        s.m_latitude = value[0];
        s.m_longitude = value[1];
        writeSettingsFile(dir.path(), s);
        SCOPED_TRACE(read().left(160).constData());
        const HostSettings back = readSettingsFile(dir.path());
        EXPECT_EQ(value[0], back.m_latitude);
        EXPECT_EQ(value[1], back.m_longitude);
        EXPECT_EQ(std::signbit(value[1]), std::signbit(back.m_longitude));
    }
}

// The settings writer as a user without write access to the program folder:
// root may write anywhere, so a root test run gives that part to "nobody".
class ReadOnlyProgramFolder : public SettingsFile {
protected:
    void makeFolderReadOnly()
    {
        ASSERT_TRUE(
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    }
    void TearDown() override
    {
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    struct Outcome {
        bool saved[2] = {false, false};
        int consoleLines = 0;
    };

    // Two saves in a child process that cannot create files in the folder.
    Outcome saveTwiceWithoutFolderAccess(const HostSettings& s)
    {
        Outcome outcome;
        int pipe[2];
        if (::pipe(pipe) != 0)
            return outcome;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe[0]);
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(1);
            FILE* console = std::tmpfile();
            ConsoleLogger::global().setStream(console);
            Outcome result;
            result.saved[0] = writeSettingsFile(dir.path(), s);
            result.saved[1] = writeSettingsFile(dir.path(), s);
            const std::string said = LogCapture::readAll(console);
            result.consoleLines = int(std::count(said.begin(), said.end(), '\n'));
            [[maybe_unused]] const ssize_t n = ::write(pipe[1], &result, sizeof result);
            ::_exit(0);
        }
        ::close(pipe[1]);
        if (child > 0) {
            [[maybe_unused]] const ssize_t n = ::read(pipe[0], &outcome, sizeof outcome);
            int status = 0;
            ::waitpid(child, &status, 0);
        }
        ::close(pipe[0]);
        return outcome;
    }
};

TEST_F(ReadOnlyProgramFolder, AWritableSettingsFileIsRewrittenInPlace)
{
    write("{}");
    ASSERT_TRUE(QFile::setPermissions(settingsFilePath(dir.path()),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther));
    makeFolderReadOnly();
    HostSettings s = HostSettings::defaults(dir.path());
    s.m_save = true;
    const Outcome outcome = saveTwiceWithoutFolderAccess(s);
    EXPECT_TRUE(outcome.saved[0]);
    EXPECT_TRUE(outcome.saved[1]);
    EXPECT_EQ(0, outcome.consoleLines);
    EXPECT_TRUE(readSettingsFile(dir.path()).m_save);
}

TEST_F(ReadOnlyProgramFolder, SettingsThatCannotBeSavedAtAllAreReportedOnce)
{
    write("{}");
    ASSERT_TRUE(QFile::setPermissions(settingsFilePath(dir.path()), QFile::ReadOwner | QFile::ReadOther));
    makeFolderReadOnly();
    const Outcome outcome = saveTwiceWithoutFolderAccess(HostSettings::defaults(dir.path()));
    EXPECT_FALSE(outcome.saved[0]);
    EXPECT_FALSE(outcome.saved[1]);
    EXPECT_EQ(1, outcome.consoleLines);
    EXPECT_EQ("{}", read());
}

} // namespace
