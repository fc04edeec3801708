// QuvorReplay: plays a visualiser recording back to the visualiser, as the
// host would send it, with a window to steer it or without one for scripts.

#include "tools/replay/FlightSummary.h"
#include "tools/replay/ReplayChecks.h"
#include "tools/replay/ReplayExport.h"
#include "tools/replay/ReplayEngine.h"
#include "tools/replay/ReplayOptions.h"
#include "tools/replay/ReplayPlots.h"
#include "tools/replay/ReplayWindow.h"

#include "common/Console.h"
#include "common/ProgramInfo.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace replay;

namespace {

int gStopPipe[2] = {-1, -1};
volatile std::sig_atomic_t gStopSignal = 0; // read where the event loop does not run: opening a file

void onSignal(int number)
{
    gStopSignal = number;
    const char c = char(number);
    [[maybe_unused]] ssize_t n = write(gStopPipe[1], &c, 1);
}

bool stopRequested() { return gStopSignal != 0; }

// Ctrl+C, SIGTERM and SIGHUP end the event loop with 128 + the signal.
void stopOnSignals(QCoreApplication& app)
{
    if (pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa { };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    auto* notifier = new QSocketNotifier(gStopPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c = 0;
        if (read(gStopPipe[0], &c, 1) == 1)
            app.exit(128 + c);
    });
}

void fail(const QString& text) { Console::err("QuvorReplay: " + text + "\n"); }

bool openRecording(const ReplayOptions& o, Recording& recording, bool sayWhatWasSkipped = true)
{
    QString error;
    if (!recording.open(o.file, error, stopRequested)) {
        if (!stopRequested())
            fail(error);
        return false;
    }
    if (sayWhatWasSkipped && recording.stats().skipped > 0)
        fail(recording.skippedText());
    return true;
}

int writePlot(const ReplayOptions& o)
{
    Recording recording;
    if (!openRecording(o, recording))
        return stopRequested() ? 128 + gStopSignal : 1;
    ReplayPlots plots;
    plots.setAttribute(Qt::WA_DontShowOnScreen);
    plots.resize(1200, 900);
    plots.setData(recording.plots(), recording.durationMs());
    if (!o.checksFile.isEmpty()) {
        QVector<CheckMark> marks;
        QString summary, error;
        if (!judgeForReplay(o.checksFile, o.file, o.run, marks, summary, error)) {
            fail(error);
            return 2;
        }
        QVector<qint64> failed;
        for (const CheckMark& m : marks)
            if (!m.passed)
                failed.append(m.ms);
        markPlots(plots, failed);
    }
    plots.show();
    QCoreApplication::processEvents();
    if (!plots.grab().save(o.plotFile)) {
        fail(QString("cannot write %1").arg(o.plotFile));
        return 1;
    }
    return 0;
}

int writeExport(const ReplayOptions& o)
{
    Recording recording;
    if (!openRecording(o, recording))
        return 1;
    QString error;
    qint64 rows = 0;
    if (!exportCsv(recording, o.exportFile, {o.run, o.fromMs, o.toMs}, error, &rows)) {
        fail(error);
        return 1;
    }
    Console::out(QString("%1 states written to %2\n").arg(QString::number(rows), o.exportFile));
    return 0;
}

int playWithoutWindow(QCoreApplication& app, const ReplayOptions& o, ReplaySender& sender)
{
    Recording recording;
    if (!openRecording(o, recording))
        return stopRequested() ? 128 + gStopSignal : 1;
    ReplayEngine engine(recording, sender, o.local);
    engine.setRange(o.fromMs < 0 ? 0 : o.fromMs, o.toMs < 0 ? recording.durationMs() : o.toMs);
    engine.setSpeed(o.speed);
    engine.setLoop(o.loop);
    QObject::connect(&engine, &ReplayEngine::finished, &app, [&app] { app.exit(0); });
    QObject::connect(&engine, &ReplayEngine::failed, &app, [&app](const QString& message) {
        fail(message);
        app.exit(1);
    });

    const bool terminal = isatty(fileno(stdout));
    auto progress = [&](const char* end) {
        Console::out(QString("\r%1 / %2  %3 states sent%4")
                         .arg(clockText(engine.positionMs()), clockText(recording.durationMs()),
                              QString::number(engine.sentCount()), end),
                     Console::Flush::Now);
    };
    QTimer ticker;
    if (terminal) {
        QObject::connect(&ticker, &QTimer::timeout, [&] { progress(""); });
        ticker.start(200);
    }
    QTimer::singleShot(0, &engine, [&engine] { engine.play(); });
    const int code = app.exec();
    if (terminal)
        progress("\n");
    if (!engine.paceText().isEmpty())
        fail(engine.paceText());
    if (sender.failed() > 0) {
        fail(sender.failureText());
        return code == 0 ? 1 : code;
    }
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    // The options decide whether a window (and so a display) is needed at all.
    ReplayOptions o;
    QString error;
    if (!parseOptions(ProgramInfo::programArguments(argc, argv), o, error)) {
        fail(error);
        Console::err("Try 'QuvorReplay --help'.\n");
        return 2;
    }
    if (o.help) {
        Console::out(usageText("QuvorReplay"));
        return 0;
    }
    if (o.version) {
        Console::out(ProgramInfo::versionText("QuvorReplay"));
        return 0;
    }
    if (!o.windowless()) {
        const QString noDisplay = ProgramInfo::displayProblem(argc, argv);
        if (!noDisplay.isEmpty()) {
            fail(noDisplay +
                 "; the window needs a display (--no-gui, --summary, --plot and --export work without one)");
            return 1;
        }
    }
    // The plots are drawn without a display.
    const bool plot = !o.summary && !o.plotFile.isEmpty();
    if (plot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (!o.windowless() || plot)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    stopOnSignals(*app);

    if (o.summary) {
        Recording recording;
        if (!openRecording(o, recording, false))
            return stopRequested() ? 128 + gStopSignal : 1;
        Console::out(flightSummary(recording));
        return 0;
    }
    if (plot)
        return writePlot(o);
    if (!o.exportFile.isEmpty())
        return writeExport(o);

    ReplaySender sender;
    if (!sender.setTarget(o.broadcast ? QString("255.255.255.255") : o.host, o.port ? o.port : sender.port(), error)) {
        fail(error);
        return 2;
    }
    if (o.noGui)
        return playWithoutWindow(*app, o, sender);

    QVector<CheckMark> marks;
    QString checksSummary;
    if (!o.checksFile.isEmpty() && !judgeForReplay(o.checksFile, o.file, o.run, marks, checksSummary, error)) {
        fail(error);
        return 2;
    }
    ReplayWindow w(sender, o.local);
    w.setOpenStop(stopRequested);
    w.setSpeed(o.speed);
    w.setLoop(o.loop);
    if (!o.file.isEmpty() && !w.openFile(o.file) && stopRequested())
        return 128 + gStopSignal;
    if (w.engine()) {
        if (!o.checksFile.isEmpty())
            showChecks(w, checksSummary, marks);
        if (o.fromMs >= 0 || o.toMs >= 0)
            w.setRange(o.fromMs < 0 ? 0 : o.fromMs, o.toMs < 0 ? w.engine()->recording().durationMs() : o.toMs);
        w.engine()->play();
    }
    w.show();
    // From the menu entry: nothing to play yet, so ask for it.
    if (o.file.isEmpty() && o.chooseFile)
        QTimer::singleShot(0, &w, &ReplayWindow::onOpen);
    return app->exec();
}
