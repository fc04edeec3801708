#include "link/PortDiagnosis.h"

#include "link/PortMonitor.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

namespace PortDiagnosis {
namespace {

QString modeText(mode_t mode)
{
    QString text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (mode & (0400 >> bit)) ? QChar(letters[bit]) : QChar('-');
    return text;
}

QString userName(uid_t uid)
{
    const passwd* pw = getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid)
{
    const group* gr = getgrgid(gid);
    return gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(gid);
}

} // namespace

QString permissionText(const QString& path)
{
    struct stat st { };
    if (stat(path.toLocal8Bit().constData(), &st) != 0)
        return {};
    const QString group = groupName(st.st_gid);
    if (group == QLatin1String("dialout"))
        return QStringLiteral("It belongs to the group dialout: run 'sudo usermod -aG dialout $USER' and log in "
                              "again.");
    return QStringLiteral("It belongs to user %1, group %2, mode %3; this user needs read and write access to it.")
        .arg(userName(st.st_uid), group, modeText(st.st_mode));
}

QStringList existingPorts()
{
    QStringList ports;
    QextSerialEnumerator enumerator(nullptr, QextSerialEnumerator::Scope::AllHardwarePorts);
    for (const QextPortInfo& port : enumerator.getPorts()) {
        // The kernel keeps legacy ports without hardware under the platform's serial8250.
        if (port.enumName.contains(QLatin1String("/serial8250/")))
            continue;
        if (port.vendorID != 0 || port.productID != 0)
            ports << QStringLiteral("%1 (USB %2:%3)")
                         .arg(port.physName)
                         .arg(port.vendorID, 4, 16, QChar('0'))
                         .arg(port.productID, 4, 16, QChar('0'));
        else
            ports << port.physName;
    }
    ports.sort();
    return ports;
}

QString existingPortsText()
{
    const QStringList ports = existingPorts();
    if (ports.isEmpty())
        return QStringLiteral("There is no serial port on this machine.");
    return QStringLiteral("Serial ports here: %1.").arg(ports.join(", "));
}

} // namespace PortDiagnosis
