#pragma once

#include <QString>
#include <QStringList>

namespace check {

struct CheckOptions {
    bool help = false;
    bool version = false;
    QString checksFile;
    QString recording;
    bool live = false;
    int udpPort = -1; // -1: the datagram port; 0: any free port
    double timeoutSeconds = 0; // 0: none
    QString recordFile;
    int run = 0; // 0: the longest
    QString junitFile;
    QString reportFile;
};

// False with a message for a bad option or a missing argument.
bool parseOptions(const QStringList& args, CheckOptions& options, QString& error);
QString usageText(const QString& program);

} // namespace check
