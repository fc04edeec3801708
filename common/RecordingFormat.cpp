#include "common/RecordingFormat.h"

#include <QString>

namespace RecordingFormat {
namespace {

QByteArray singleLine(const QByteArray& text)
{
    if (!text.contains('\n') && !text.contains('\r'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            out += inString ? (c == '\r' ? "\\r" : "\\n") : " ";
            escaped = false;
            continue;
        }
        out += c;
        if (escaped)
            escaped = false;
        else if (inString && c == '\\')
            escaped = true;
        else if (c == '"')
            inString = !inString;
    }
    return out;
}

} // namespace

QByteArray stamp(const QTime& t)
{
    return QString::asprintf("[%02d:%02d:%02d.%03d]\t", t.hour(), t.minute(), t.second(), t.msec()).toLatin1();
}

QByteArray datagramLine(const QTime& localTime, const QByteArray& datagram)
{
    const int nul = datagram.indexOf('\0');
    const QByteArray text = nul < 0 ? datagram : datagram.left(nul);
    return stamp(localTime) + singleLine(text) + '\n';
}

} // namespace RecordingFormat
