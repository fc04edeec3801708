// QuvorCheck: judges a flight, recorded or live, against a check file, for
// people and for CI jobs (JUnit XML, a JSON report, the exit status).

#include "tools/check/CheckFile.h"
#include "tools/check/CheckOptions.h"
#include "tools/check/CheckReport.h"
#include "tools/check/LiveCheck.h"
#include "tools/check/RecordingCheck.h"

#include "common/Console.h"
#include "common/ProgramInfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

using namespace check;

namespace {

void fail(const QString& text) { Console::err("QuvorCheck: " + text + "\n"); }

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
    Console::out(consoleText(r), Console::Flush::Now);
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
        Console::out(o.recording + ": no run\n");
        r.verdicts = FlightJudge(suite).verdicts();
        return report(o, r);
    }
    const RecordedFlight& f = judged.flights[chosen];
    r.run = chosen + 1;
    r.states = f.states;
    r.duration = f.duration;
    r.verdicts = f.verdicts;
    Console::out(QString("%1: %2 run%3, judging run %4 (%5 s from %6 s, %7 states)%8\n")
                     .arg(o.recording, QString::number(runs), runs == 1 ? "" : "s", QString::number(r.run),
                          secondsText(f.duration), secondsText(f.start), QString::number(f.states),
                          o.run > 0 || runs == 1 ? "" : ", the longest"));
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
    Console::out(QString("listening on UDP port %1\n").arg(live.port()), Console::Flush::Now);
    app.exec();
    const CheckResult r = live.result();
    Console::out(
        QString("%1 state datagrams received, %2 states in the flight%3\n")
            .arg(QString::number(live.datagrams()), QString::number(r.states), live.timedOut() ? ", timed out" : ""));
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
        Console::err("Try 'QuvorCheck --help'.\n");
        return 2;
    }
    if (o.help) {
        Console::out(usageText("QuvorCheck"));
        return 0;
    }
    if (o.version) {
        Console::out(ProgramInfo::versionText("QuvorCheck"));
        return 0;
    }
    CheckSuite suite;
    if (!readCheckFile(o.checksFile, suite, error)) {
        fail(error);
        return 2;
    }
    return o.live ? checkLive(app, o, suite) : checkRecording(o, suite);
}
