// QuvorCheck: judges a flight, recorded or live, against a check file, for
// people and for CI jobs (JUnit XML, a JSON report, the exit status).

#include "tools/check/CheckFile.h"
#include "tools/check/CheckOptions.h"
#include "tools/check/CheckReport.h"
#include "tools/check/LiveCheck.h"
#include "tools/check/RecordingCheck.h"

#include "common/ProgramInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>

using namespace check;

namespace {

void fail(const QString& text) { std::fprintf(stderr, "QuvorCheck: %s\n", qPrintable(text)); }

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        fail(QString("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

// The console lines, the files asked for, and the exit status.
int report(const CheckOptions& o, const CheckResult& r)
{
    std::printf("%s", qPrintable(consoleText(r)));
    std::fflush(stdout);
    bool written = true;
    if (!o.junitFile.isEmpty())
        written = writeFile(o.junitFile, junitXml(r)) && written;
    if (!o.reportFile.isEmpty())
        written = writeFile(o.reportFile, jsonReport(r)) && written;
    if (!written)
        return 2;
    return r.failed() == 0 && !r.verdicts.isEmpty() ? 0 : 1;
}

int checkRecording(const CheckOptions& o, const CheckSuite& suite)
{
    RecordingJudgement judged;
    QString error;
    if (!judgeRecording(o.recording, suite, judged, error)) {
        fail(error);
        return 1;
    }
    if (!judged.skipped.isEmpty())
        fail(judged.skipped);
    const int runs = judged.flights.size();
    const int chosen = chooseFlight(judged.flights, o.run);
    CheckResult r;
    r.suite = &suite;
    r.source = o.recording;
    r.runs = runs;
    if (runs > 0 && o.run > runs) {
        fail(QString("--run %1: the recording holds %2 run%3").arg(o.run).arg(runs).arg(runs == 1 ? "" : "s"));
        return 2;
    }
    if (chosen < 0) {
        std::printf("%s: no run\n", qPrintable(o.recording));
        r.verdicts = FlightJudge(suite).verdicts();
        return report(o, r);
    }
    const RecordedFlight& f = judged.flights[chosen];
    r.run = chosen + 1;
    r.states = f.states;
    r.duration = f.duration;
    r.verdicts = f.verdicts;
    std::printf("%s: %d run%s, judging run %d (%s s from %s s, %lld states)%s\n", qPrintable(o.recording), runs,
                runs == 1 ? "" : "s", r.run, qPrintable(secondsText(f.duration)), qPrintable(secondsText(f.start)),
                f.states, o.run > 0 || runs == 1 ? "" : ", the longest");
    return report(o, r);
}

int checkLive(QCoreApplication& app, const CheckOptions& o, const CheckSuite& suite)
{
    LiveCheck live(suite, o.udpPort < 0 ? StateDatagram::Port : quint16(o.udpPort), o.recordFile);
    QString error;
    if (!live.open(error)) {
        fail(error);
        return 2;
    }
    QObject::connect(&live, &LiveCheck::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    live.start(o.timeoutSeconds);
    std::printf("listening on UDP port %u\n", unsigned(live.port()));
    std::fflush(stdout);
    app.exec();
    const CheckResult r = live.result();
    std::printf("%lld state datagrams received, %lld states in the flight%s\n", live.datagrams(), r.states,
                live.timedOut() ? ", timed out" : "");
    return report(o, r);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    CheckOptions o;
    QString error;
    if (!parseOptions(ProgramInfo::programArguments(argc, argv), o, error)) {
        fail(error);
        std::fprintf(stderr, "Try 'QuvorCheck --help'.\n");
        return 2;
    }
    if (o.help) {
        std::printf("%s", qPrintable(usageText("QuvorCheck")));
        return 0;
    }
    if (o.version) {
        std::printf("%s", qPrintable(ProgramInfo::versionText("QuvorCheck")));
        return 0;
    }
    CheckSuite suite;
    if (!readCheckFile(o.checksFile, suite, error)) {
        fail(error);
        return 2;
    }
    return o.live ? checkLive(app, o, suite) : checkRecording(o, suite);
}
