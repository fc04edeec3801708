// What the cost benchmarks share: a private Xvfb, a child process that ends
// with the benchmark, and readings of CPU time and memory from /proc.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/prctl.h>
#include <unistd.h>

namespace bench {

inline void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        if (QCoreApplication::instance())
            runFor(50);
        else
            usleep(50000);
    }
    return true;
}

// User + system CPU seconds of a process, all its threads.
inline double cpuSeconds(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = f.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

inline double statusMB(qint64 pid, const char* key)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

inline QByteArray loadAverage()
{
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("?");
}

inline double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// A child that ends with this program, however it ends (an error return, _Exit, a crash, a signal).
class ChildProcess : public QProcess {
protected:
    void setupChildProcess() override
    {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != mParent) // the parent was already gone
            ::_exit(1);
    }

private:
    const pid_t mParent = ::getpid();
};

class XServer {
public:
    ~XServer() { stop(); }
    void stop()
    {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.terminate();
            if (!mProcess.waitForFinished(5000)) {
                mProcess.kill();
                mProcess.waitForFinished(2000);
            }
        }
    }
    bool start()
    {
        for (int n = 90; n < 160; ++n) {
            if (QFileInfo::exists(QString("/tmp/.X%1-lock").arg(n)))
                continue;
            mProcess.start("Xvfb",
                           {QString(":%1").arg(n), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
            if (!mProcess.waitForStarted(5000))
                return false;
            const QString socket = QString("/tmp/.X11-unix/X%1").arg(n);
            if (waitUntil([&] { return QFileInfo::exists(socket) || mProcess.state() == QProcess::NotRunning; },
                          10000) &&
                mProcess.state() == QProcess::Running) {
                mDisplay = QString(":%1").arg(n);
                return true;
            }
            mProcess.kill();
            mProcess.waitForFinished(2000);
        }
        return false;
    }
    QString display() const { return mDisplay; }
    qint64 pid() const { return mProcess.processId(); }

private:
    ChildProcess mProcess;
    QString mDisplay;
};

// Starts a private X server for `program` and points this process at it, with
// Mesa's software OpenGL; false (said on the error stream) when none starts.
inline bool useOwnDisplay(XServer& x, const char* program)
{
    if (!x.start()) {
        std::fprintf(stderr, "%s: could not start Xvfb\n", program);
        return false;
    }
    qputenv("DISPLAY", x.display().toLocal8Bit());
    qputenv("LIBGL_ALWAYS_SOFTWARE", "1");
    qunsetenv("QT_QPA_PLATFORM");
    return true;
}

} // namespace bench
