// Running the build's tools and the installed programs from a test.
#pragma once

#include "tests/common/Poll.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QStringList>

#include <functional>

namespace install_test {

inline QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "install_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

inline QString envPath(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

struct Result {
    int code = -1; // -1: did not start, crashed or timed out
    QByteArray output; // standard output and error together
};

// Runs a program to its end.
inline Result run(const QString& program, const QStringList& args, int timeoutMs = 300000,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    if (!p.waitForStarted(10000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.output = p.readAll();
    if (p.exitStatus() == QProcess::NormalExit)
        r.code = p.exitCode();
    return r;
}

// Polls pred, running this process's events meanwhile, until it holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& pred, int timeoutMs) { return pollUntil(pred, timeoutMs); }

// Every file and folder under root, relative, sorted.
inline QStringList listing(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// The programs this build made; the replay tool and the checker only when they exist.
inline QStringList builtPrograms()
{
    QStringList programs{"QuvorSimulator", "QuvorSimulatorUI", "QuvorFlightEmulator"};
    for (const char* optional : {"QuvorReplay", "QuvorCheck"})
        if (QFileInfo(envPath("QUVOR_BIN_DIR") + "/" + optional).isExecutable())
            programs << optional;
    return programs;
}

// Files every installation holds, relative to its prefix (besides the programs).
inline QStringList installedFiles()
{
    QStringList files{
        "share/quvor/plugins.cfg",
        "share/quvor/ogre.cfg",
        "share/quvor/resources.cfg",
        "share/quvor/QuvorSimulator.ico",
        "share/quvor/media/tavkBody.mesh",
        "share/quvor/media/Vx7_body.mesh",
        "share/quvor/media/nrioBody.mesh",
        "share/quvor/media/quvor_clouds.png",
        "share/quvor/media/quvor_grass.png",
        "share/quvor/media/scene.material",
        "share/quvor/media/aircraft.material",
        "share/quvor/media/Glow.compositor",
        "share/applications/quvor-simulator.desktop",
        "share/applications/quvor-simulator-ui.desktop",
        "share/icons/hicolor/48x48/apps/quvor.png",
        "share/icons/hicolor/128x128/apps/quvor.png",
        "share/icons/hicolor/256x256/apps/quvor.png",
        "lib/udev/rules.d/70-quvor-aircraft.rules",
        "share/quvor/checks/hover.toml",
        "share/quvor/checks/square.toml",
        "share/quvor/checks/circle.toml",
        "share/doc/quvor/copyright",
        "share/doc/quvor/changelog.gz",
        "share/doc/quvor/README.md",
    };
    if (builtPrograms().contains("QuvorReplay"))
        files << "share/applications/quvor-replay.desktop";
    for (const QString& program : builtPrograms())
        files << "share/man/man1/" + program + ".1.gz";
    return files;
}

} // namespace install_test
