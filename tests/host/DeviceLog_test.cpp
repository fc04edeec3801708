#include "host/DeviceLog.h"

#include "tests/common/QtPrint.h"
#include "link/Commands.h"
#include "tests/link/LogCapture.h"
#include "link/Package.h"
#include "logwindow/LogClass.h"
#include "tests/logwindow/LogWindowProbe.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

std::vector<uint8_t> logPackage(int logType, const QByteArray& text, uint16_t seq = 1,
                                uint8_t sender = makeAddress(3, 0))
{
    QByteArray payload;
    payload.append(char(logType));
    payload.append(text);
    return buildPackageFrom(sender, cmd::GeneralSet, cmd::DeviceLog,
                            reinterpret_cast<const uint8_t*>(payload.constData()), size_t(payload.size()), 10, 0, seq);
}

const PackageProperty_V1* asPackage(const std::vector<uint8_t>& frame)
{
    return PackageProperty_V1::from(frame.data());
}

struct LineCase {
    const char* name;
    QByteArray text; // payload after the log type byte
    uint16_t seq;
    uint8_t sender;
    bool time;
    bool info;
    QString expected;
};

class LogLine : public ::testing::TestWithParam<LineCase> { };

TEST_P(LogLine, IsBuiltFromThePackage)
{
    const LineCase& c = GetParam();
    const auto frame = logPackage(7, c.text, c.seq, c.sender);
    EXPECT_EQ(c.expected, DeviceLog::formatLine(asPackage(frame), c.time, c.info, QTime(12, 0, 1, 42)));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogLine,
    ::testing::Values(
        LineCase{"TimeAndSender", QByteArray("  GPS ok\r\n"), 300, makeAddress(3, 0), true, false,
                 QStringLiteral("[12:00:01.042][300][sender=0x03.0]\tGPS ok")},
        LineCase{"SenderAsTwoAndOneHexDigits", QByteArray("x"), 0, makeAddress(0x1F, 7), false, false,
                 QStringLiteral("[0][sender=0x1f.7]\tx")},
        LineCase{"InfoOnlyKeepsTheTime", QByteArray("hello"), 9, makeAddress(3, 0), true, true,
                 QStringLiteral("[12:00:01.042]hello")},
        LineCase{"TextAfterTheLastLineEndIsCut", QByteArray("a\r\nb"), 1, 3, false, true, QStringLiteral("a")},
        LineCase{"OnlyTheLastLineEndCuts", QByteArray("a\r\nb\r\n"), 1, 3, false, true, QStringLiteral("a\r\nb")},
        LineCase{"TextEndsAtItsZeroByte", QByteArray("ab\0cd", 5), 1, 3, false, true, QStringLiteral("ab")},
        LineCase{"LeadingControlsAndBlanksDropped", QByteArray("\t\x01 x y"), 1, 3, false, true, QStringLiteral("x y")},
        LineCase{"Utf8Text", QByteArray("H\xc3\xb6he"), 1, 3, false, true, QStringLiteral("H\u00f6he")},
        LineCase{"NoTextAtAll", QByteArray(), 5, 3, false, false, QStringLiteral("[5][sender=0x03.0]\t")}),
    [](const auto& info) { return std::string(info.param.name); });

struct FilterCase {
    const char* offered;
    const char* excluded;
    int logType;
    int expected;
};

TEST(LogFilter, CountsOfferedMinusExcludedMatches)
{
    const FilterCase cases[] = {
        {"0-255,", "", 0, 1},  {"0-255,", "", 255, 1}, {"0-255,", "0-255,", 17, 0},  {"0-255,", "3,3,", 3, -1},
        {"5,15,", "5,", 5, 0}, {"5,15,", "5,", 15, 1}, {"9-3,", "", 9, 1}, // high-first range: the single type 9
        {"9-3,", "", 5, 0},    {"0-255", "", 7, 0}, // no comma: not an entry
        {"3,,7,", "", 3, 1}, // reading stops at the empty entry
        {"3,,7,", "", 7, 0},   {" 7,", "", 7, 1},      {"2- 6,", "", 4, 1},          {"4x,", "", 4, 1},
        {"x4,", "", 4, 0},     {"-1-5,", "", 3, 0},    {"99999999999,", "", 255, 0}, {"1-99999999999,", "", 200, 1},
    };
    for (const FilterCase& c : cases) {
        EXPECT_EQ(c.expected,
                  logFilterCount(c.logType, QString::fromLatin1(c.offered), QString::fromLatin1(c.excluded)))
            << "offered \"" << c.offered << "\" excluded \"" << c.excluded << "\" type " << c.logType;
    }
    EXPECT_EQ(QStringList{QStringLiteral("0-255")}, logTypeEntries(allLogTypes()));
}

TEST(LogFilter, ListClicksEditTheExcludedText)
{
    struct Case {
        bool checked;
        const char* before;
        const char* entry;
        const char* after;
    };
    const Case cases[] = {
        {true, "5,15,", "5", "15,"},  {true, "15,5,", "5", "15,"},   {true, "3,5,7,", "5", "3,7,"},
        {true, "15,", "5", "15,"},    {true, "0-255,", "0-255", ""}, {false, "", "0-255", "0-255,"},
        {false, "15,", "5", "15,5,"}, {false, "5,", "5", "5,"},      {false, "3,5,", "5", "3,5,"},
    };
    for (const Case& c : cases) {
        const QString before = QString::fromLatin1(c.before);
        const QString entry = QString::fromLatin1(c.entry);
        EXPECT_EQ(QString::fromLatin1(c.after),
                  c.checked ? includeLogTypeEntry(before, entry) : excludeLogTypeEntry(before, entry))
            << (c.checked ? "check " : "uncheck ") << c.entry << " in \"" << c.before << "\"";
    }
}

TEST(RunFolder, IsNamedAfterTheLocalTimeBelowTheRoot)
{
    EXPECT_EQ(QStringLiteral("/data/LOG_FILES//[2015-06-01,09_30_05]/"),
              DeviceLog::runFolder(QStringLiteral("/data/LOG_FILES/"), QDateTime(QDate(2015, 6, 1), QTime(9, 30, 5))));
}

class Presenter : public ::testing::Test {
protected:
    void SetUp() override { log = std::make_unique<DeviceLog>(appDir.path()); }

    void TearDown() override
    {
        std::vector<LogClass*> windows;
        for (int type = 0; type < 256; ++type)
            windows.push_back(log->window(type));
        log.reset();
        for (LogClass* window : windows)
            delete window;
        runQueuedWindowWork();
    }

    QString root(const char* name = "LOG_FILES/") const { return appDir.path() + QLatin1Char('/') + name; }

    LOG_INFO options(bool save, bool show, const QString& path) const
    {
        LOG_INFO info;
        info.save = save;
        info.time = false;
        info.show = show;
        info.path = path;
        return info;
    }

    void receive(int logType, const QByteArray& text, uint16_t seq = 1)
    {
        const auto frame = logPackage(logType, text, seq);
        EXPECT_TRUE(log->handlePackage(asPackage(frame)));
    }

    QString logFile(int logType) const { return log->logDir() + QStringLiteral("Log_type_%1.txt").arg(logType); }

    QTemporaryDir appDir;
    LogDialogValues dialog{12, allLogTypes(), QString()};
    std::unique_ptr<DeviceLog> log;
};

TEST_F(Presenter, StartsInTheApplicationsLogFolder)
{
    EXPECT_EQ(appDir.path() + QStringLiteral("/LOG_FILES/"), log->logDir());
    EXPECT_TRUE(QDir(appDir.path() + QStringLiteral("/LOG_FILES")).exists());
    EXPECT_TRUE(log->logDirMade().isEmpty());
}

TEST_F(Presenter, RunFolderChangesOnlyWithTheLogRoot)
{
    log->applyOptions(options(false, false, root()), &dialog);
    const QString first = log->logDir();
    static const QRegularExpression runName(QStringLiteral("^/\\[\\d{4}-\\d\\d-\\d\\d,\\d\\d_\\d\\d_\\d\\d\\]/$"));
    ASSERT_TRUE(first.startsWith(root()));
    EXPECT_TRUE(runName.match(first.mid(root().size())).hasMatch()) << first.toStdString();

    log->applyOptions(options(true, true, root()), &dialog);
    EXPECT_EQ(first, log->logDir());
    // The folder is made with the first saved line, not before.
    EXPECT_FALSE(QDir(first).exists());

    ASSERT_TRUE(QDir(appDir.path()).mkdir(QStringLiteral("other")));
    log->applyOptions(options(true, true, root("other/")), &dialog);
    EXPECT_TRUE(log->logDir().startsWith(root("other/")));
}

TEST_F(Presenter, EachLogTypeGetsItsOwnWindowAndFile)
{
    log->applyOptions(options(true, false, root()), &dialog);
    receive(3, "  GPS ok\r\n", 300);
    receive(17, "baro", 301);
    receive(3, "second", 302);

    QWidget* three = findLogWindow(QStringLiteral("Log type:3"));
    QWidget* seventeen = findLogWindow(QStringLiteral("Log type:17"));
    ASSERT_NE(nullptr, three);
    ASSERT_NE(nullptr, seventeen);
    EXPECT_FALSE(three->isVisible());
    EXPECT_FALSE(seventeen->isVisible());
    EXPECT_EQ(QByteArray("[300][sender=0x03.0]\tGPS ok\n[302][sender=0x03.0]\tsecond\n"), fileBytes(logFile(3)));
    EXPECT_EQ(QByteArray("[301][sender=0x03.0]\tbaro\n"), fileBytes(logFile(17)));
    EXPECT_EQ(log->logDir(), log->logDirMade());

    log->applyOptions(options(true, true, root()), &dialog);
    EXPECT_TRUE(three->isVisible());
    EXPECT_TRUE(seventeen->isVisible());

    log->clearWindows();
    EXPECT_TRUE(shownLines(three).isEmpty());
}

TEST_F(Presenter, TimeOptionStampsLinesWithTheLocalTime)
{
    LOG_INFO info = options(false, false, root());
    info.time = true;
    log->applyOptions(info, &dialog);
    const QTime before = QTime::currentTime();
    receive(3, "stamped");

    const QStringList lines = shownLines(findLogWindow(QStringLiteral("Log type:3")));
    ASSERT_EQ(1, lines.size());
    static const QRegularExpression stamp(
        QStringLiteral("^\\[(\\d\\d:\\d\\d:\\d\\d\\.\\d{3})\\]\\[1\\]\\[sender=0x03\\.0\\]\tstamped$"));
    const auto match = stamp.match(lines.first());
    ASSERT_TRUE(match.hasMatch()) << lines.first().toStdString();
    const QTime shown = QTime::fromString(match.captured(1), QStringLiteral("hh:mm:ss.zzz"));
    constexpr int kDay = 24 * 3600 * 1000;
    const int late = (before.msecsTo(shown) + kDay) % kDay; // also right across midnight
    EXPECT_TRUE(late < 60 * 1000 || late > kDay - 1000) << lines.first().toStdString();
}

TEST_F(Presenter, FilterDisablesAndEnablesEveryWindow)
{
    log->applyOptions(options(true, true, root()), &dialog);
    receive(3, "kept");
    receive(4, "kept");

    dialog.excludedLogTypes = excludeLogTypeEntry(dialog.excludedLogTypes, QStringLiteral("0-255"));
    log->applyOptions(options(true, true, root()), &dialog);
    EXPECT_FALSE(findLogWindow(QStringLiteral("Log type:3"))->isEnabled());
    EXPECT_FALSE(findLogWindow(QStringLiteral("Log type:4"))->isEnabled());
    receive(3, "filtered out");

    dialog.excludedLogTypes = includeLogTypeEntry(dialog.excludedLogTypes, QStringLiteral("0-255"));
    log->applyOptions(options(true, true, root()), &dialog);
    receive(3, "kept again");
    EXPECT_TRUE(findLogWindow(QStringLiteral("Log type:4"))->isEnabled());
    EXPECT_EQ(
        (QStringList{QStringLiteral("[1][sender=0x03.0]\tkept"), QStringLiteral("[1][sender=0x03.0]\tkept again")}),
        shownLines(findLogWindow(QStringLiteral("Log type:3"))));
    EXPECT_EQ(QByteArray("[1][sender=0x03.0]\tkept\n[1][sender=0x03.0]\tkept again\n"), fileBytes(logFile(3)));
}

TEST_F(Presenter, WindowsWaitForTheDialogBeforeTheyTakeLines)
{
    receive(5, "before any dialog");
    EXPECT_FALSE(findLogWindow(QStringLiteral("Log type:5"))->isEnabled());

    log->setDialogValues(&dialog);
    receive(6, "dialog known");
    EXPECT_TRUE(findLogWindow(QStringLiteral("Log type:6"))->isEnabled());
}

TEST_F(Presenter, NewLogRootMovesTheNextLinesToANewRunFolder)
{
    log->applyOptions(options(true, false, root()), &dialog);
    receive(3, "old root");
    const QString oldFile = logFile(3);

    ASSERT_TRUE(QDir(appDir.path()).mkdir(QStringLiteral("other")));
    log->applyOptions(options(true, false, root("other/")), &dialog);
    receive(3, "new root");

    ASSERT_NE(oldFile, logFile(3));
    EXPECT_EQ(QByteArray("[1][sender=0x03.0]\told root\n"), fileBytes(oldFile));
    EXPECT_EQ(QByteArray("[1][sender=0x03.0]\tnew root\n"), fileBytes(logFile(3)));
    EXPECT_EQ(logFile(3), QString::fromUtf16(log->window(3)->GetCurDir()));
}

TEST_F(Presenter, ALogFolderThatCannotBeMadeIsNamedOnTheConsoleOnce)
{
    LogCapture console;
    const QString missingRoot = appDir.path() + QStringLiteral("/missing/LOG_FILES/");
    log->applyOptions(options(true, false, missingRoot), &dialog);
    receive(3, "first");
    receive(3, "second");
    receive(4, "other window, same folder");
    const std::string said = console.text();
    EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
    EXPECT_NE(std::string::npos, said.find(log->logDir().toStdString())) << said;

    // An existing folder says nothing.
    LogCapture quiet;
    DeviceLog again(appDir.path());
    EXPECT_EQ("", quiet.text());
}

TEST_F(Presenter, OtherPackagesAreLeftAlone)
{
    const uint8_t state[58] = {};
    const auto flightState = buildPackageFrom(makeAddress(3, 0), 11, 6, state, sizeof state, 10, 0, 1);
    const auto emptyLog = buildPackageFrom(makeAddress(3, 0), 0, 14, nullptr, 0, 10, 0, 1);
    const auto otherId = buildPackageFrom(makeAddress(3, 0), 0, 12, state, 6, 10, 0, 1);
    EXPECT_FALSE(log->handlePackage(asPackage(flightState)));
    EXPECT_FALSE(log->handlePackage(asPackage(emptyLog)));
    EXPECT_FALSE(log->handlePackage(asPackage(otherId)));
    EXPECT_FALSE(log->handlePackage(nullptr));
    EXPECT_EQ(nullptr, log->window(0));
}

TEST_F(Presenter, ListenerLinesStayInOrderWhileOptionsChange)
{
    constexpr int kLines = 300;
    log->applyOptions(options(true, false, root()), &dialog);
    std::atomic<bool> done{false};
    std::thread listener([&] {
        for (int seq = 0; seq < kLines; ++seq) {
            const auto frame = logPackage(3, "line", uint16_t(seq));
            log->handlePackage(asPackage(frame));
        }
        done = true;
    });
    bool show = false;
    while (!done) {
        show = !show;
        log->applyOptions(options(true, show, root()), &dialog);
        runQueuedWindowWork();
    }
    listener.join();
    runQueuedWindowWork();

    QByteArray expected;
    for (int seq = 0; seq < kLines; ++seq)
        expected += QStringLiteral("[%1][sender=0x03.0]\tline\n").arg(seq).toUtf8();
    EXPECT_EQ(expected, fileBytes(logFile(3)));
}

} // namespace
