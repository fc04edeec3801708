#include "tools/replay/RecordingLine.h"

#include "common/Json.h"

#include <QVariantMap>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace replay {
namespace {

bool isNumberChar(char c) { return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E'; }

bool twoDigits(const char* p, int limit, int& value)
{
    if (p[0] < '0' || p[0] > '9' || p[1] < '0' || p[1] > '9')
        return false;
    value = (p[0] - '0') * 10 + (p[1] - '0');
    return value < limit;
}

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

// A value read by the codec as a number (a non-finite one reads as 0); anything
// else is no number and leaves the key as it was.
bool codecNumber(const QVariant& value, double& number)
{
    bool isNumber = false;
    number = finiteOrZero(value.toDouble(&isNumber));
    return isNumber;
}

// The number text as the codec reads it: a run of number characters, as a double.
// Short text that converts whole takes the fast path, which gives the codec's
// value; anything else (too long, too large, not a number at all) goes to the
// codec itself, so both paths agree on every text.
bool numberValue(const char* begin, const char* end, double& value)
{
    if (end - begin <= 24) {
        const auto result = std::from_chars(begin, end, value);
        if (result.ec == std::errc() && result.ptr == end)
            return true;
    }
    bool ok = false;
    const QVariant parsed = Json::parse(QString::fromLatin1(begin, int(end - begin)), ok);
    return ok && codecNumber(parsed, value);
}

int lowByte(double value) { return std::fabs(value) < 9e18 ? int(qint64(value) & 0xFF) : 0; }

enum Key {
    Roll,
    Pitch,
    Yaw,
    WorldX,
    WorldY,
    WorldZ,
    VelocityX,
    VelocityY,
    ProductType,
    SimulatorCommand,
    MotorStarted,
    NoKey
};

Key keyOf(const char* key, int length)
{
    static const struct {
        const char* name;
        int length;
    } names[] = {{"Roll", 4},         {"Pitch", 5},     {"Yaw", 3},       {"WorldX", 6},       {"WorldY", 6},
                 {"WorldZ", 6},       {"VelocityX", 9}, {"VelocityY", 9}, {"ProductType", 11}, {"SimulatorCommand", 16},
                 {"MotorStarted", 12}};
    for (int i = 0; i < NoKey; ++i)
        if (names[i].length == length && std::memcmp(key, names[i].name, size_t(length)) == 0)
            return Key(i);
    return NoKey;
}

void store(StateValues& v, Key key, double value)
{
    switch (key) {
    case Roll: v.roll = value; break;
    case Pitch: v.pitch = value; break;
    case Yaw: v.yaw = value; break;
    case WorldX: v.worldX = value; break;
    case WorldY: v.worldY = value; break;
    case WorldZ: v.worldZ = value; break;
    case VelocityX: v.velocityX = value; break;
    case VelocityY: v.velocityY = value; break;
    case ProductType: v.productType = lowByte(value); break;
    case SimulatorCommand: v.simulatorCommand = lowByte(value); break;
    case MotorStarted: v.motorStarted = value != 0 ? 1 : 0; break;
    case NoKey: break;
    }
}

// The datagram shape every sender writes: {"key":value,...} without white
// space, values bare numbers, strings without escapes, true, false or null.
// Anything else goes to the codec, which decides as the visualiser does.
enum class Scan { Valid, Unsure };

Scan scanFlat(const char* p, const char* end, StateValues& v)
{
    if (p == end || *p != '{')
        return Scan::Unsure;
    ++p;
    if (p != end && *p == '}')
        return Scan::Valid;
    for (;;) {
        if (p == end || *p != '"')
            return Scan::Unsure;
        const char* key = ++p;
        while (p != end && *p != '"' && *p != '\\')
            ++p;
        if (p == end || *p != '"')
            return Scan::Unsure;
        const Key k = keyOf(key, int(p - key));
        ++p;
        if (p == end || *p != ':')
            return Scan::Unsure;
        ++p;
        if (p == end)
            return Scan::Unsure;
        // A key of ours whose value is no plain number (a string, true, 12-3) is
        // read as the codec converts it.
        const bool number = *p == '-' || (*p >= '0' && *p <= '9'); // where the codec sees a number
        if (k != NoKey && !number)
            return Scan::Unsure;
        if (*p == '"') {
            ++p;
            while (p != end && *p != '"' && *p != '\\')
                ++p;
            if (p == end || *p != '"')
                return Scan::Unsure;
            ++p;
        } else if (number) {
            const char* text = p;
            while (p != end && isNumberChar(*p))
                ++p;
            double value = 0;
            if (k != NoKey) {
                if (!numberValue(text, p, value))
                    return Scan::Unsure;
                store(v, k, value);
            }
        } else {
            bool word = false;
            for (const char* w : {"true", "false", "null"}) {
                const size_t n = std::strlen(w);
                if (size_t(end - p) >= n && std::memcmp(p, w, n) == 0) {
                    p += n;
                    word = true;
                    break;
                }
            }
            if (!word)
                return Scan::Unsure;
        }
        if (p == end)
            return Scan::Unsure;
        if (*p == '}')
            return Scan::Valid; // the codec ignores whatever follows the object
        if (*p != ',')
            return Scan::Unsure;
        ++p;
    }
}

bool parseWithCodec(const char* p, int length, StateValues& v, const char*& why)
{
    bool ok = false;
    const QVariant value = Json::parse(QString::fromUtf8(p, length), ok);
    if (!ok) {
        why = "datagram does not parse";
        return false;
    }
    if (value.type() != QVariant::Map) {
        why = "datagram is not an object";
        return false;
    }
    const QVariantMap map = value.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        double number = 0;
        if (codecNumber(it.value(), number)) {
            const QByteArray key = it.key().toUtf8();
            store(v, keyOf(key.constData(), key.size()), number);
        }
    }
    return true;
}

// "x:%f,y:%f,z:%f"
bool parsePosition(const char* p, const char* end, StateValues& v)
{
    double* const targets[] = {&v.worldX, &v.worldY, &v.worldZ};
    const char names[] = {'x', 'y', 'z'};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (p == end || *p != ',')
                return false;
            ++p;
        }
        if (end - p < 2 || p[0] != names[i] || p[1] != ':')
            return false;
        p += 2;
        const char* number = p;
        while (p != end && isNumberChar(*p))
            ++p;
        if (p == number || p - number > 60)
            return false;
        char buffer[64];
        std::memcpy(buffer, number, size_t(p - number));
        buffer[p - number] = '\0';
        char* stop = nullptr;
        const double value = std::strtod(buffer, &stop);
        if (*stop != '\0' || !std::isfinite(value))
            return false;
        *targets[i] = value;
    }
    return p == end;
}

} // namespace

qint64 parseStamp(const char* t, int length)
{
    if (length < 14 || t[0] != '[' || t[3] != ':' || t[6] != ':' || t[9] != '.' || t[13] != ']')
        return -1;
    int h = 0, m = 0, s = 0;
    if (!twoDigits(t + 1, 24, h) || !twoDigits(t + 4, 60, m) || !twoDigits(t + 7, 60, s))
        return -1;
    int ms = 0;
    for (int i = 10; i < 13; ++i) {
        if (t[i] < '0' || t[i] > '9')
            return -1;
        ms = ms * 10 + (t[i] - '0');
    }
    return ((h * 60 + m) * 60 + s) * 1000LL + ms;
}

qint64 stampGap(qint64 previousMs, qint64 currentMs)
{
    const qint64 gap = currentMs - previousMs;
    if (gap >= 0)
        return gap;
    return -gap > DayMs / 2 ? gap + DayMs : 0;
}

ParsedLine parseLine(const char* text, int length)
{
    ParsedLine line;
    if (length > 0 && text[length - 1] == '\r')
        --length;
    // The recorder writes a datagram up to its first NUL; a NUL here ends the text too.
    if (const void* nul = std::memchr(text, '\0', size_t(length)))
        length = int(static_cast<const char*>(nul) - text);
    if (length == 0) {
        line.why = "empty line";
        return line;
    }
    if (text[0] != '[') {
        line.why = "no time stamp";
        return line;
    }
    line.timeOfDayMs = parseStamp(text, length);
    if (line.timeOfDayMs < 0) {
        line.why = "bad time stamp";
        return line;
    }
    if (length < 15 || text[14] != '\t') {
        line.why = "no tab after the time stamp";
        return line;
    }
    const char* p = text + 15;
    const char* end = text + length;
    line.payloadStart = 15;
    line.payloadLength = length - 15;
    if (line.payloadLength == 0) {
        line.why = "no datagram after the time stamp";
        return line;
    }
    if (line.payloadLength > MaxPayload) {
        line.why = "datagram longer than UDP carries";
        return line;
    }
    if (*p == 'x') {
        line.kind = LineKind::TracePosition;
        if (!parsePosition(p, end, line.values)) {
            line.why = "position does not parse";
            return line;
        }
        line.ok = true;
        return line;
    }
    if (scanFlat(p, end, line.values) == Scan::Unsure) {
        line.values = StateValues();
        if (!parseWithCodec(p, line.payloadLength, line.values, line.why))
            return line;
    }
    line.ok = true;
    return line;
}

} // namespace replay
