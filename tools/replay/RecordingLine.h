#pragma once

#include <QByteArray>
#include <QString>

// One line of a visualiser recording:
//   udp.txt    [hh:mm:ss.mmm]<TAB>{"Roll":0.5,...}
//   trace.txt  [hh:mm:ss.mmm]<TAB>x:1.500000,y:-2.250000,z:10.000000
// The line is given without its line end (a CR before the LF is tolerated).
namespace replay {

// What the plots and the summary take from a state; a key that is absent
// (or not a finite number) reads as 0, as in the visualiser.
struct StateValues {
    double roll = 0;
    double pitch = 0;
    double yaw = 0;
    double worldX = 0;
    double worldY = 0;
    double worldZ = 0;
    double velocityX = 0;
    double velocityY = 0;
    int productType = 0;
    int simulatorCommand = 0;
    int motorStarted = -1; // -1: the state does not say
};

enum class LineKind { Datagram, TracePosition };

struct ParsedLine {
    bool ok = false;
    const char* why = nullptr; // reason when !ok
    qint64 timeOfDayMs = 0; // from the stamp
    LineKind kind = LineKind::Datagram;
    int payloadStart = 0; // byte offset of the datagram or position text in the line
    int payloadLength = 0; // up to the first NUL or CR line end
    StateValues values;
};

// Longest datagram text a replay sends: what one UDP datagram over IPv4 carries.
constexpr int MaxPayload = 65507;

constexpr qint64 DayMs = 24 * 3600 * 1000;

// Milliseconds of the day in "[hh:mm:ss.mmm]", or -1.
qint64 parseStamp(const char* text, int length);

ParsedLine parseLine(const char* text, int length);

// Gap from the previous stamp to this one: a stamp more than 12 h earlier
// wrapped past midnight, any other earlier stamp means no gap.
qint64 stampGap(qint64 previousMs, qint64 currentMs);

} // namespace replay
