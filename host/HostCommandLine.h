#pragma once

#include <QString>
#include <QStringList>

struct HostOptions
{
    QString port;          // opened at start-up as an arrived aircraft port
    bool autoStart = false; // press "Start Simulation" once the aircraft is connected
};

enum CommandLineResult { CommandLineOk, CommandLineHelp, CommandLineError };

QString hostUsage();
CommandLineResult parseHostCommandLine(const QStringList& arguments, HostOptions& options, QString& error);

// Checks that the port exists and that this user may read and write it, without
// opening it. error explains a failure and, for missing permission, the fix.
bool checkPortAccess(const QString& port, QString& error);

// "/dev/" + name, unless the name is already a path.
QString portDevicePath(const QString& port);
