// Running the real programs: the host from a folder of its own (so its
// settings file is the test's), datagrams on the system's port.
#pragma once

#include "tests/host/TestHelpers.h"

#include "common/StateDatagram.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <functional>

inline QCoreApplication& e2eApp()
{
    static int argc = 1;
    static char name[] = "e2e_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline QString binDir() { return QString::fromLocal8Bit(qgetenv("QUVOR_BIN_DIR")); }

struct Datagram {
    qint64 atMs;
    QByteArray text;
    quint16 fromPort = 0; // the sender's source port
};

// Listens where the visualiser would: 127.0.0.1, port 5566.
class StateListener {
public:
    StateListener()
    {
        clock.start();
        bound = socket.bind(QHostAddress::LocalHost, StateDatagram::Port,
                            QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }
    QList<Datagram>& take()
    {
        while (socket.hasPendingDatagrams()) {
            QByteArray data(int(socket.pendingDatagramSize()), '\0');
            quint16 port = 0;
            socket.readDatagram(data.data(), data.size(), nullptr, &port);
            received.append({clock.elapsed(), data, port});
        }
        return received;
    }
    bool waitFor(const std::function<bool(const QList<Datagram>&)>& done, int timeoutMs)
    {
        return waitUntil([&] { return done(take()); }, timeoutMs);
    }

    bool bound = false;
    QElapsedTimer clock;
    QUdpSocket socket;
    QList<Datagram> received;
};

// The host program copied into a folder of its own, so that the folder is its
// application directory and the developer's settings stay untouched.
class HostProcess {
public:
    HostProcess()
    {
        const QString exe = dir.path() + "/QuvorSimulator";
        QFile::copy(binDir() + "/QuvorSimulator", exe);
        QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProgram(exe);
        process.setWorkingDirectory(dir.path());
    }
    ~HostProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(3000);
        }
    }
    void writeSettings(const QByteArray& json)
    {
        QFile file(dir.path() + "/config.ini");
        file.open(QIODevice::WriteOnly);
        file.write(json);
    }
    void start(const QStringList& args)
    {
        process.setArguments(args);
        process.start();
        process.waitForStarted(5000);
    }
    // Runs to the end; output is standard output and error together.
    int run(const QStringList& args, QByteArray* output = nullptr)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        start(args);
        process.waitForFinished(10000);
        if (output)
            *output = process.readAll();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    bool finished(int timeoutMs)
    {
        return waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs);
    }

    QTemporaryDir dir;
    QProcess process;
};
