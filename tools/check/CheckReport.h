#pragma once

#include "tools/check/CheckFile.h"
#include "tools/check/FlightJudge.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// What a judged flight says, in the three shapes a person or a CI job reads:
// console lines, JUnit XML and a JSON report with the evidence.
namespace check {

struct CheckResult {
    const CheckSuite* suite = nullptr;
    QString source; // the recording, or "UDP port 5566"
    int runs = 0; // flights found
    int run = 0; // the one judged, 1-based; 0 when there was none
    qint64 states = 0;
    double duration = 0;
    qint64 datagrams = -1; // live: state datagrams received; -1 for a recording
    QVector<Verdict> verdicts;

    int passed() const;
    int failed() const;
};

// "PASS  name  evidence" per verdict, then "N passed, N failed".
QString consoleText(const CheckResult& result);
QByteArray junitXml(const CheckResult& result);
QByteArray jsonReport(const CheckResult& result);

} // namespace check
