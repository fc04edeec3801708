#pragma once

// Recordings written into a temporary folder for the replay tests.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace replay_test {

class RecordingFiles {
public:
    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = mDir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return path;
    }
    QString path(const QString& name) const { return mDir.filePath(name); }

private:
    QTemporaryDir mDir;
};

// A datagram line as the visualiser records it, at ms after 10:00:00.000.
inline QByteArray udpLine(qint64 ms, const QByteArray& datagram)
{
    const qint64 t = 10 * 3600 * 1000 + ms;
    return QString::asprintf("[%02lld:%02lld:%02lld.%03lld]\t", t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000)
               .toLatin1() +
        datagram + '\n';
}

inline QByteArray state(double z, int i = 0)
{
    return QString(R"({"Roll":0.1,"Pitch":0,"Yaw":0,"WorldX":%1,"WorldY":0,"WorldZ":%2,"VelocityX":1,"VelocityY":0,)"
                   R"("Time":%3,"ProductType":2,"SenderIP":"192.168.0.10","SimulatorCommand":1})")
        .arg(i * 0.01)
        .arg(z)
        .arg(i * 7)
        .toLatin1();
}

} // namespace replay_test
