// The real QuvorSimulatorUI under Xvfb: datagrams over UDP in, rendered pixels out.
#include "tests/viewer/xvfb/ViewerProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace viewer_test;

namespace {
bool isGrass(QRgb c) { return qGreen(c) > qRed(c) + 30 && qGreen(c) > qBlue(c) + 30; }

bool isSky(QRgb c) // blue sky or white cloud
{
    return qBlue(c) > 150 && qBlue(c) >= qGreen(c) && qBlue(c) >= qRed(c);
}

// Light, unsaturated pixels: the aircraft (sky, clouds and grass are excluded by position or hue).
bool isAircraft(QRgb c)
{
    const int hi = std::max({qRed(c), qGreen(c), qBlue(c)});
    const int lo = std::min({qRed(c), qGreen(c), qBlue(c)});
    return hi - lo < 45 && hi > 90;
}

double fraction(const QImage& image, const QRect& area, bool (*pred)(QRgb))
{
    int hits = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            hits += pred(image.pixel(x, y));
    return double(hits) / double(area.width() * area.height());
}

// Aircraft pixels below the horizon, as a mask.
QVector<bool> silhouette(const QImage& image)
{
    QVector<bool> mask(image.width() * image.height());
    for (int y = image.height() / 4; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            mask[y * image.width() + x] = isAircraft(image.pixel(x, y));
    return mask;
}

int difference(const QVector<bool>& a, const QVector<bool>& b)
{
    int n = 0;
    for (int i = 0; i < std::min(a.size(), b.size()); ++i)
        n += a[i] != b[i];
    return n;
}

int changedPixels(const QImage& a, const QImage& b, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

QRect centre(const QImage& image)
{
    return QRect(image.width() / 4, image.height() / 4, image.width() / 2, image.height() / 2);
}

// Below the horizon around the aircraft: the clouds drift, the grass does not.
QRect aircraftArea(const QImage& image)
{
    return QRect(image.width() / 4, image.height() * 2 / 5, image.width() / 2, image.height() * 2 / 5);
}

class ProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        viewer = new ViewerProcess;
        ASSERT_TRUE(viewer->start()) << "no first screenshot from " << binDir().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete viewer;
        viewer = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(viewer, nullptr);
        ASSERT_EQ(viewer->process().state(), QProcess::Running);
    }

    // Grabs after the state has been shown for a while.
    QImage showState(const QByteArray& datagram, int ms = 600)
    {
        viewer->sendFor(datagram, ms);
        return viewer->grab();
    }

    static ViewerProcess* viewer;
};
ViewerProcess* ProgramTest::viewer = nullptr;
} // namespace

TEST_F(ProgramTest, SkyAboveGrassBelowAircraftInTheMiddle)
{
    const QImage shots[] = {viewer->firstScreenshot(), viewer->grab()};
    for (const QImage& image : shots) {
        ASSERT_EQ(image.size(), QSize(800, 600));
        const QRect top(0, 0, 800, 60), bottom(0, 480, 800, 120);
        EXPECT_GT(fraction(image, top, isSky), 0.9);
        EXPECT_GT(fraction(image, bottom, isGrass), 0.9);
        EXPECT_GT(fraction(image, QRect(300, 180, 200, 160), isAircraft), 0.02) << "aircraft near the centre";
        EXPECT_LT(fraction(image, bottom, isAircraft), 0.001);
    }
}

TEST_F(ProgramTest, EachProductTypeHasItsOwnSilhouette)
{
    QVector<QVector<bool>> masks;
    for (int type : {1, 2, 3}) {
        const QImage image = showState(state(type, 0));
        EXPECT_GT(fraction(image, centre(image), isAircraft), 0.005) << "type " << type;
        masks.append(silhouette(image));
    }
    EXPECT_GT(difference(masks[0], masks[1]), 500) << "Tavik vs Nerio";
    EXPECT_GT(difference(masks[1], masks[2]), 500) << "Nerio vs Vx7";
    EXPECT_GT(difference(masks[0], masks[2]), 500) << "Tavik vs Vx7";
}

TEST_F(ProgramTest, FansTurnOnlyWhileMotorsRun)
{
    for (int type : {2, 3}) {
        {
            viewer->sendFor(state(type, 1), 600);
            ViewerProcess::KeepSending stream(*viewer, state(type, 1));
            const QImage a = viewer->grab();
            const QImage b = viewer->grab();
            const QImage c = viewer->grab();
            EXPECT_GT(std::max(changedPixels(a, b, aircraftArea(a)), changedPixels(b, c, aircraftArea(a))), 20)
                << "type " << type << ": fans still although MotorStarted is 1";
        }
        viewer->sendFor(state(type, 0), 600);
        ViewerProcess::KeepSending stream(*viewer, state(type, 0));
        const QImage d = viewer->grab();
        const QImage e = viewer->grab();
        EXPECT_EQ(changedPixels(d, e, aircraftArea(d)), 0) << "type " << type << ": fans move with MotorStarted 0";
    }
}

TEST_F(ProgramTest, TavikArmsRiseAfterTransformStateThreeToTwo)
{
    // Fly, land (1 -> 4), hold landed, then 3 -> 2 raises the arms.
    viewer->sendFor(state(1, 1, 1), 600);
    viewer->sendFor(state(1, 1, 4), 6000);
    viewer->sendFor(state(1, 1, 3), 300);
    QImage landed;
    {
        ViewerProcess::KeepSending stream(*viewer, state(1, 1, 3));
        landed = viewer->grab();
    }
    viewer->sendFor(state(1, 1, 2), 3000);
    ViewerProcess::KeepSending stream(*viewer, state(1, 1, 2));
    const QImage raised = viewer->grab();
    // The fans turn in place in both pictures; the arms move the outline by far more.
    EXPECT_GT(difference(silhouette(landed), silhouette(raised)), 300);
}

TEST_F(ProgramTest, TavikFansTurnInTheLandingHoldUntilTheMotorsStop)
{
    viewer->sendFor(state(1, 1, 1), 600);
    viewer->sendFor(state(1, 1, 4), 6000); // the lowering takes 5 s
    {
        ViewerProcess::KeepSending stream(*viewer, state(1, 1, 4));
        const QImage a = viewer->grab();
        const QImage b = viewer->grab();
        const QImage c = viewer->grab();
        EXPECT_GT(std::max(changedPixels(a, b, aircraftArea(a)), changedPixels(b, c, aircraftArea(a))), 20)
            << "landed with MotorStarted 1: the fans turn";
    }
    ViewerProcess::KeepSending stream(*viewer, state(1, 0, 4));
    // Once two pictures agree the motors-off state has arrived; 1 s later nothing has moved.
    QImage still = viewer->grab(), next;
    ASSERT_TRUE(waitFor(
        [&] {
            next = viewer->grab();
            std::swap(still, next);
            return changedPixels(still, next, aircraftArea(still)) == 0;
        },
        30000))
        << "the fans never stopped after MotorStarted 0";
    waitFor([] { return false; }, 1000);
    const QImage later = viewer->grab();
    EXPECT_EQ(changedPixels(still, later, aircraftArea(still)), 0) << "landed, MotorStarted 0: something moves";
    EXPECT_GT(fraction(later, centre(later), isAircraft), 0.005) << "the aircraft is still drawn";
}

namespace {
// Holds port 5566 so that the visualiser cannot bind it.
struct PortBlocker {
    QUdpSocket socket;
    bool bound = socket.bind(QHostAddress::Any, StateDatagram::Port, QUdpSocket::DontShareAddress);
};
} // namespace

TEST(ProgramStart, BusyPortShowsTheBoxOnceThenTheWindow)
{
    PortBlocker blocker;
    ASSERT_TRUE(blocker.bound) << "port 5566 in use by something else";
    // Started by hand (no --screenshot, no --quit-after): the user is asked.
    QProcess program;
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binDir() + "/QuvorSimulatorUI", QStringList());
    ASSERT_TRUE(program.waitForStarted(10000));
    QStringList boxes;
    ASSERT_TRUE(waitFor([&] { return !(boxes = windowsNamed("Info")).isEmpty(); }, 30000)) << "no message box";
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_TRUE(windowsNamed("QuvorSimulator-UI").isEmpty()) << "the window is shown only after the box";
    runTool("xdotool", {"key", "--window", boxes.first(), "Return"});
    QStringList windows;
    ASSERT_TRUE(waitFor([&] { return !(windows = windowsNamed("QuvorSimulator-UI")).isEmpty(); }, 30000))
        << "no window after the box was closed";
    EXPECT_TRUE(windowsNamed("Info").isEmpty());
    auto grassBelow = [&] {
        const QImage image = grabWindow(windows.first());
        const QRect bottom(0, image.height() * 4 / 5, image.width(), image.height() / 5);
        return !image.isNull() && fraction(image, bottom, isGrass) > 0.9;
    };
    ASSERT_TRUE(waitFor(grassBelow, 30000)) << "the view works without data";
    program.terminate();
    if (!program.waitForFinished(10000))
        program.kill();
}

TEST(ProgramStart, ScriptedRunsReportABusyPortOnTheConsoleAndQuitOnTime)
{
    PortBlocker blocker;
    ASSERT_TRUE(blocker.bound) << "port 5566 in use by something else";
    QTemporaryDir dir;
    const QString shot = dir.filePath("shot.png");
    QProcess program;
    program.setProcessChannelMode(QProcess::SeparateChannels);
    program.start(binDir() + "/QuvorSimulatorUI", {"--screenshot", shot, "--quit-after", "3"});
    ASSERT_TRUE(program.waitForStarted(10000));
    // No event loop runs here: the process is polled by waiting on it.
    bool sawBox = false;
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        ended = program.waitForFinished(200);
        sawBox = sawBox || !windowsNamed("Info").isEmpty();
    }
    if (!ended) {
        program.kill();
        program.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "still running after a minute";
    EXPECT_FALSE(sawBox);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_TRUE(QFileInfo(shot).size() > 0) << "the view still rendered";
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(err.count("Failed to open UDP receiver"), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("5566")) << err.toStdString();
}

TEST(ProgramStart, AScreenshotThatCannotBeWrittenEndsTheRunWithExitOne)
{
    QTemporaryDir dir;
    QUdpSocket probe;
    ASSERT_TRUE(probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0)));
    const QString port = QString::number(probe.localPort());
    probe.close();
    const struct {
        const char* name;
        QString target;
    } cases[] = {
        {"a full device", "/dev/full"},
        {"a folder that does not exist", dir.filePath("missing/shot.png")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess program;
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.start(binDir() + "/QuvorSimulatorUI",
                      {"--screenshot", c.target, "--quit-after", "200", "--udp-port", port});
        ASSERT_TRUE(program.waitForStarted(10000));
        if (!program.waitForFinished(120000)) {
            program.kill();
            program.waitForFinished(5000);
            FAIL() << "still running long after its first frames";
        }
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        EXPECT_TRUE(err.contains("could not write screenshot " + c.target + ": ")) << err.toStdString();
    }
    // The device is still the device: nothing was renamed over it.
    EXPECT_FALSE(QFileInfo("/dev/full").isFile());
    EXPECT_TRUE(QFileInfo("/dev/full").exists());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty()) << "no part file left";
}
