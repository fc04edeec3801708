#pragma once

// Runs the real visualiser under the test's X server, feeds it datagrams on the
// system's UDP port and reads back what its window shows.
#include "tests/viewer/xvfb/PixelWait.h"

#include "common/StateDatagram.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace viewer_test {

inline QString binDir() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")); }

using pixel_test::waitFor;

// Output of a helper program, empty when it failed.
inline QByteArray runTool(const QString& program, const QStringList& args, int timeoutMs = 10000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

// Ids of the visible windows whose title is exactly `title`.
inline QStringList windowsNamed(const QString& title)
{
    const QByteArray out = runTool("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
    return QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
}

// What the X server shows in the window (catches a window that renders black on screen).
inline QImage grabWindow(const QString& id)
{
    QImage image;
    image.loadFromData(runTool("import", {"-window", id, "png:-"}), "PNG");
    return image.convertToFormat(QImage::Format_RGB888);
}

class ViewerProcess {
public:
    ~ViewerProcess() { stop(); }

    // Starts the program with a first screenshot requested; true once it was written.
    bool start() { return launch() && waitReady(); }

    bool launch()
    {
        mScreenshot = mDir.filePath("first.png");
        mProcess.setWorkingDirectory(mDir.path());
        mProcess.setProcessChannelMode(QProcess::ForwardedChannels);
        mProcess.start(binDir() + "/QuvorSimulatorUI", {"--screenshot", mScreenshot, "--quit-after", "100"});
        return mProcess.waitForStarted(10000);
    }

    bool waitReady()
    {
        return waitFor([&] { return QFileInfo(mScreenshot).size() > 0 && !windowId().isEmpty(); }, 30000);
    }

    void stop()
    {
        if (mProcess.state() == QProcess::NotRunning)
            return;
        mProcess.terminate();
        if (!mProcess.waitForFinished(5000)) {
            mProcess.kill();
            mProcess.waitForFinished(5000);
        }
    }

    QString windowId() const
    {
        const QStringList ids = windowsNamed("QuvorSimulator-UI");
        return ids.isEmpty() ? QString() : ids.first();
    }

    QImage firstScreenshot() const { return QImage(mScreenshot).convertToFormat(QImage::Format_RGB888); }
    QImage grab() const { return grabWindow(windowId()); }
    QProcess& process() { return mProcess; }
    QString workDir() const { return mDir.path(); }

    // The socket every datagram of this viewer comes from (bound on first use).
    int senderDescriptor()
    {
        if (mSender.state() != QAbstractSocket::BoundState)
            mSender.bind(QHostAddress(QHostAddress::LocalHost), 0);
        return int(mSender.socketDescriptor());
    }

    void send(const QByteArray& datagram)
    {
        mSender.writeDatagram(datagram, QHostAddress::LocalHost, StateDatagram::Port);
    }

    // Keeps sending the state every 100 ms for `ms` (a run ends after 2.5 s of silence).
    void sendFor(const QByteArray& datagram, int ms)
    {
        QElapsedTimer t;
        t.start();
        do {
            send(datagram);
            waitFor([] { return false; }, 100);
        } while (t.elapsed() < ms);
    }

    // Sends the state every 100 ms from a thread of its own while it lives, so
    // that the run goes on while the test blocks (grabbing takes seconds on a
    // busy machine, and a run ends after 2.5 s without a state).
    class KeepSending {
    public:
        // From the viewer's own sending socket: one sender is one aircraft to the viewer.
        KeepSending(ViewerProcess& viewer, QByteArray datagram)
            : mThread([this, datagram, fd = viewer.senderDescriptor()] {
                  sockaddr_in to{};
                  to.sin_family = AF_INET;
                  to.sin_port = htons(StateDatagram::Port);
                  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                  std::unique_lock<std::mutex> lock(mMutex);
                  do {
                      ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
                  } while (!mStop.wait_for(lock, std::chrono::milliseconds(100), [this] { return mStopped; }));
              })
        {
        }
        ~KeepSending()
        {
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mStopped = true;
            }
            mStop.notify_all();
            mThread.join();
        }

    private:
        std::mutex mMutex;
        std::condition_variable mStop;
        bool mStopped = false;
        std::thread mThread;
    };

private:
    QTemporaryDir mDir;
    QString mScreenshot;
    QProcess mProcess;
    QUdpSocket mSender;
};

// A host-style state datagram.
inline QByteArray state(int productType, int motorStarted, int transformState = 0, double yaw = 0,
                        int simulatorCommand = 1)
{
    return QStringLiteral(R"({"Roll":0,"Pitch":0,"Yaw":%1,"WorldX":0,"WorldY":0,"WorldZ":0,)"
                          R"("WorldLatitude":0,"WorldLongitude":0,"VelocityX":0,"VelocityY":0,"VelocityZ":0,)"
                          R"("Time":1000,"TransformState":%2,"MotorStarted":%3,"FlyingState":1,)"
                          R"("ProductType":%4,"SenderIP":"127.0.0.1","SimulatorCommand":%5})")
        .arg(yaw)
        .arg(transformState)
        .arg(motorStarted)
        .arg(productType)
        .arg(simulatorCommand)
        .toUtf8();
}

} // namespace viewer_test
