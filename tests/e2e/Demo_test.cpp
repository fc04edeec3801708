// The demo script with a fleet: emulators, hosts from folders of their own, a
// listener where the visualiser would be (no display, so the script starts none).
#include "tests/e2e/E2eSupport.h"
#include "tests/common/ProcessSignal.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QVariantMap>

#include <algorithm>
#include <csignal>

namespace {

class Demo {
public:
    explicit Demo(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("bash",
                      QStringList{QString::fromLocal8Bit(qgetenv("QUVOR_SOURCE_DIR")) + "/tools/demo.sh", binDir()} +
                          args);
        process.waitForStarted(5000);
    }
    ~Demo()
    {
        // The script ends what it started; killing it outright would leave them running.
        if (process.state() != QProcess::NotRunning) {
            signalProcess(process.processId(), SIGTERM);
            if (!process.waitForFinished(20000))
                process.kill();
            process.waitForFinished(3000);
        }
    }
    const QByteArray& text()
    {
        output += process.readAll();
        return output;
    }
    bool finished(int timeoutMs)
    {
        return waitUntil(
            [&] {
                text();
                return process.state() == QProcess::NotRunning;
            },
            timeoutMs);
    }

    QTemporaryDir runtime;
    QProcess process;
    QByteArray output;
};

// The start positions the emulators were sent, as latitude and longitude.
QList<QPair<double, double>> startPositions(const QByteArray& text)
{
    QList<QPair<double, double>> positions;
    QRegularExpressionMatchIterator it =
        QRegularExpression("environment received: latitude (-?[0-9.]+), longitude (-?[0-9.]+)")
            .globalMatch(QString::fromUtf8(text));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        positions.append({m.captured(1).toDouble(), m.captured(2).toDouble()});
    }
    return positions;
}

TEST(DemoFleet, EachAircraftHasItsOwnHostFolderSenderAndStartPosition)
{
    e2eApp();
    StateListener udp;
    ASSERT_TRUE(udp.bound) << "UDP port 5566 is taken";
    Demo demo({"--fleet", "3", "--mission", "hover", "--rate", "100"});

    // Three senders, each with its aircraft's position once it flies.
    auto flyingSenders = [](const QList<Datagram>& all) {
        QSet<quint16> ports;
        for (const Datagram& d : all)
            if (parsedDatagram(d.text).value("WorldLatitude").toDouble() != 0.0)
                ports.insert(d.fromPort);
        return ports;
    };
    ASSERT_TRUE(udp.waitFor([&](const QList<Datagram>& d) { return flyingSenders(d).size() >= 3; }, 20000))
        << demo.text().constData();
    EXPECT_EQ(3, flyingSenders(udp.received).size());
    for (const Datagram& d : udp.received)
        EXPECT_TRUE(parsedDatagram(d.text).contains("SenderIP")) << d.text.constData();

    // The datagrams round the latitude to about 11 m; the emulators say what they were sent.
    ASSERT_TRUE(waitUntil([&] { return startPositions(demo.text()).size() == 3; })) << demo.text().constData();
    QList<QPair<double, double>> starts = startPositions(demo.text());
    std::sort(starts.begin(), starts.end());
    EXPECT_NEAR(0.000135, starts[1].first - starts[0].first, 1e-9);
    EXPECT_NEAR(0.000135, starts[2].first - starts[1].first, 1e-9);
    EXPECT_EQ(starts[0].second, starts[1].second);
    EXPECT_EQ(starts[0].second, starts[2].second);

    const QRegularExpressionMatch folder =
        QRegularExpression("host folder (\\S+)/host1,").match(QString::fromUtf8(demo.text()));
    ASSERT_TRUE(folder.hasMatch()) << demo.text().constData();
    const QString run = folder.captured(1);
    EXPECT_TRUE(run.startsWith(demo.runtime.path() + "/quvor-demo-fleet.")) << qPrintable(run);
    for (const char* host : {"/host1", "/host2", "/host3"})
        for (const char* file : {"/QuvorSimulator", "/config.ini", "/fc"})
            EXPECT_TRUE(QFileInfo::exists(run + host + file)) << qPrintable(run + host + file);

    // As after Ctrl+C: every host ends before any emulator, then the folder goes.
    signalProcess(demo.process.processId(), SIGTERM);
    ASSERT_TRUE(demo.finished(30000)) << demo.text().constData();
    EXPECT_EQ(0, demo.process.exitCode());
    const QByteArray& out = demo.text();
    EXPECT_EQ(3, out.count("demo: stopping QuvorSimulator "));
    EXPECT_EQ(3, out.count("demo: stopping QuvorFlightEmulator "));
    EXPECT_LT(out.lastIndexOf("demo: stopping QuvorSimulator "), out.indexOf("demo: stopping QuvorFlightEmulator "));
    EXPECT_TRUE(out.contains("demo: all stopped")) << out.constData();
    EXPECT_FALSE(QFileInfo::exists(run)) << qPrintable(run);
}

TEST(DemoFleet, RefusesOtherSizesAndAnEmulatorLink)
{
    e2eApp();
    const QList<QStringList> cases = {
        {"--fleet", "0"}, {"--fleet", "5"}, {"--fleet=two"}, {"--fleet="}, {"--fleet"}, {"--fleet", "2", "--link", "x"},
    };
    for (const QStringList& args : cases) {
        Demo demo(args);
        ASSERT_TRUE(demo.finished(10000)) << qPrintable(args.join(' '));
        EXPECT_EQ(2, demo.process.exitCode()) << qPrintable(args.join(' '));
        EXPECT_TRUE(demo.text().contains("demo: --fleet")) << demo.text().constData();
        EXPECT_FALSE(demo.text().contains("starting")) << demo.text().constData();
    }
}

} // namespace
