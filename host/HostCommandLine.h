#pragma once

#include "host/UdpDestination.h"

#include <QList>
#include <QString>
#include <QStringList>

struct HostOptions {
    QString port; // opened at start-up as an arrived aircraft port
    bool autoStart = false; // press "Start Simulation" once the aircraft is connected
    bool noAutoUi = false; // leave the visualiser to the caller even if "Auto Executing UI" is saved on
    QList<UdpDestination> udpTo; // where the state datagrams go instead of the local host or broadcast
    bool sideBySide = false; // the dialog goes beside the 3D view (WindowPair), as when it starts the view
};

enum CommandLineResult { CommandLineOk, CommandLineHelp, CommandLineVersion, CommandLineError };

QString hostUsage();
CommandLineResult parseHostCommandLine(const QStringList& arguments, HostOptions& options, QString& error);

// Why the port could not be opened (code: errno), with the fix for missing permission.
QString portOpenErrorText(const QString& port, int code);

// "/dev/" + name, unless the name is already a path (holds a '/').
QString portDevicePath(const QString& port);
