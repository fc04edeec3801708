// QuvorReplay: plays a visualiser recording back to the visualiser, as the
// host would send it, with a window to steer it or without one for scripts.

#include "FlightSummary.h"
#include "ReplayChecks.h"
#include "ReplayExport.h"
#include "ReplayEngine.h"
#include "ReplayOptions.h"
#include "ReplayPlots.h"
#include "ReplayWindow.h"

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

void onSignal(int number)
{
    const char c = char(number);
    [[maybe_unused]] ssize_t n = write(gStopPipe[1], &c, 1);
}

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

bool hasArgument(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], name) == 0)
            return true;
    return false;
}

void fail(const QString& text) { std::fprintf(stderr, "QuvorReplay: %s\n", qPrintable(text)); }

bool openRecording(const ReplayOptions& o, Recording& recording, bool sayWhatWasSkipped = true)
{
    QString error;
    if (!recording.open(o.file, error)) {
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
        return 1;
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
    std::printf("%lld states written to %s\n", rows, qPrintable(o.exportFile));
    return 0;
}

int playWithoutWindow(QCoreApplication& app, const ReplayOptions& o, ReplaySender& sender)
{
    Recording recording;
    if (!openRecording(o, recording))
        return 1;
    ReplayEngine engine(recording, sender, o.local);
    engine.setRange(o.fromMs < 0 ? 0 : o.fromMs, o.toMs < 0 ? recording.durationMs() : o.toMs);
    engine.setSpeed(o.speed);
    engine.setLoop(o.loop);
    QObject::connect(&engine, &ReplayEngine::finished, &app, [&app] { app.exit(0); });

    const bool terminal = isatty(fileno(stdout));
    auto progress = [&](const char* end) {
        std::printf("\r%s / %s  %lld states sent%s", qPrintable(clockText(engine.positionMs())),
                    qPrintable(clockText(recording.durationMs())), engine.sentCount(), end);
        std::fflush(stdout);
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
    if (sender.failed() > 0)
        fail(QString("%1 datagrams could not be sent").arg(sender.failed()));
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    const bool window = !hasArgument(argc, argv, "--no-gui") && !hasArgument(argc, argv, "--summary") &&
        !hasArgument(argc, argv, "--export") &&
        std::none_of(argv + 1, argv + argc, [](const char* a) { return qstrncmp(a, "--export=", 9) == 0; }) &&
        !hasArgument(argc, argv, "--help") && !hasArgument(argc, argv, "-h");
    const bool plot = hasArgument(argc, argv, "--plot") ||
        std::any_of(argv + 1, argv + argc, [](const char* a) { return qstrncmp(a, "--plot=", 7) == 0; });
    // The plots are drawn without a display.
    if (plot && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (window || plot)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    ReplayOptions o;
    QString error;
    if (!parseOptions(app->arguments().mid(1), o, error)) {
        fail(error);
        std::fprintf(stderr, "Try 'QuvorReplay --help'.\n");
        return 2;
    }
    if (o.help) {
        std::printf("%s", qPrintable(usageText("QuvorReplay")));
        return 0;
    }
    if (o.summary) {
        Recording recording;
        if (!openRecording(o, recording, false))
            return 1;
        std::printf("%s", qPrintable(flightSummary(recording)));
        return 0;
    }
    if (!o.plotFile.isEmpty())
        return writePlot(o);
    if (!o.exportFile.isEmpty())
        return writeExport(o);

    ReplaySender sender;
    if (!sender.setTarget(o.broadcast ? QString("255.255.255.255") : o.host, o.port ? o.port : sender.port(), error)) {
        fail(error);
        return 2;
    }
    stopOnSignals(*app);
    if (o.noGui)
        return playWithoutWindow(*app, o, sender);

    QVector<CheckMark> marks;
    QString checksSummary;
    if (!o.checksFile.isEmpty() && !judgeForReplay(o.checksFile, o.file, o.run, marks, checksSummary, error)) {
        fail(error);
        return 2;
    }
    ReplayWindow w(sender, o.local);
    w.setSpeed(o.speed);
    w.setLoop(o.loop);
    if (!o.file.isEmpty() && w.openFile(o.file)) {
        if (!o.checksFile.isEmpty())
            showChecks(w, checksSummary, marks);
        if (o.fromMs >= 0 || o.toMs >= 0)
            w.setRange(o.fromMs < 0 ? 0 : o.fromMs, o.toMs < 0 ? w.engine()->recording().durationMs() : o.toMs);
        w.engine()->play();
    }
    w.show();
    return app->exec();
}
