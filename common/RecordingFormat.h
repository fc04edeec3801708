#pragma once

#include <QByteArray>
#include <QTime>

// The lines of the datagram and trace recordings (udp.txt, trace.txt): a local
// time stamp "[hh:mm:ss.zzz]", a tab, then the datagram or the position.
namespace RecordingFormat {

// "[14:05:07.250]\t"
QByteArray stamp(const QTime& localTime);

// The stamp, the datagram up to its first NUL byte on one line (raw line breaks
// inside strings become their escapes, others blanks, so the line reads back as
// the same JSON value), and "\n".
QByteArray datagramLine(const QTime& localTime, const QByteArray& datagram);

} // namespace RecordingFormat
