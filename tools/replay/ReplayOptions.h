#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

namespace replay {

struct ReplayOptions {
    QString file;
    bool help = false;
    bool version = false;
    bool chooseFile = false; // without a file, the window asks for one at once
    bool noGui = false;
    bool summary = false;
    QString plotFile;
    double speed = 1;
    qint64 fromMs = -1; // -1: from the start
    qint64 toMs = -1; // -1: to the end
    bool loop = false;
    QString host = "127.0.0.1";
    quint16 port = 0; // 0: the datagram port
    bool broadcast = false;
    bool local = false;
    QString exportFile; // --export: write the states as CSV and exit
    int run = 0; // --run: 1-based flight for --export (0: the whole recording) and --checks (0: the longest)
    QString checksFile; // --checks: a check file's verdicts on the timeline and the plots

    // Modes that show no window and so need no display.
    bool windowless() const { return noGui || summary || !plotFile.isEmpty() || !exportFile.isEmpty(); }
};

// The speeds the window offers.
const QVector<double>& windowSpeeds();

// False with a message for a bad option. "--to" takes seconds when its value is
// a plain number and HOST[:PORT] otherwise.
bool parseOptions(const QStringList& args, ReplayOptions& options, QString& error);
QString usageText(const QString& program);

// Recording time as m:ss.mmm (minutes not wrapped into hours), as the visualiser shows it.
QString clockText(qint64 ms);
// Reads [[h:]m:]s[.fff]; false for anything else.
bool parseClockText(const QString& text, qint64& ms);

} // namespace replay
