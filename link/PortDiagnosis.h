#pragma once

#include <QString>
#include <QStringList>

// What to tell a user whose aircraft port does not open: who may open the
// device, and which serial ports exist when the named one does not.
namespace PortDiagnosis {

// For a permission error on path: the fix when the device belongs to the group
// dialout, otherwise the device's owner, group and mode ("user root, group
// root, mode crw-------"). Empty when path cannot be looked at.
QString permissionText(const QString& path);

// The serial ports that exist, "/dev/ttyACM0 (USB fff0:0008)" or "/dev/ttyS0"
// (virtual consoles and the unused legacy ports are left out).
QStringList existingPorts();

// "Serial ports here: ..." or "There is no serial port on this machine."
QString existingPortsText();

} // namespace PortDiagnosis
