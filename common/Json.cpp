#include "common/Json.h"

#include <QDate>
#include <QDateTime>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>
#include <QVarLengthArray>

#include <charconv>
#include <cmath>
#include <limits>

namespace Json {
namespace {

enum class Token {
    End, // also anything unreadable
    ObjectStart,
    ObjectEnd,
    ArrayStart,
    ArrayEnd,
    Colon,
    Comma,
    String,
    Number,
    True,
    False,
    Null,
};

bool isNumberChar(ushort c)
{
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// Magnitude of a run of decimal digits; false when the run is empty, holds
// anything but digits or exceeds 64 bits.
bool decimalValue(const QChar* begin, const QChar* end, quint64& value)
{
    if (begin == end)
        return false;
    value = 0;
    for (const QChar* c = begin; c != end; ++c) {
        const ushort u = c->unicode();
        if (u < '0' || u > '9')
            return false;
        const quint64 digit = u - '0';
        if (value > (std::numeric_limits<quint64>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

QVariant signedNumber(const QChar* begin, const QChar* end)
{
    quint64 magnitude = 0;
    if (decimalValue(begin + 1, end, magnitude)) {
        if (magnitude <= quint64(std::numeric_limits<int>::max()) + 1)
            return QVariant(int(-qint64(magnitude)));
        if (magnitude <= quint64(std::numeric_limits<qint64>::max()) + 1)
            return QVariant(qlonglong(-qint64(magnitude - 1) - 1));
    }
    return QVariant(QString(begin, int(end - begin)));
}

QVariant unsignedNumber(const QChar* begin, const QChar* end)
{
    quint64 value = 0;
    if (decimalValue(begin, end, value)) {
        if (value <= std::numeric_limits<uint>::max())
            return QVariant(uint(value));
        return QVariant(qulonglong(value));
    }
    return QVariant(QString(begin, int(end - begin)));
}

double realNumber(const QChar* begin, const QChar* end)
{
    // Number text is ASCII by construction; from_chars is the fast path, and
    // anything it refuses gets Qt's verdict so odd forms convert as QString would.
    // The writer's fixed-point form of a very large or very small value runs to
    // hundreds of digits, so long text takes the same exact path.
    const int length = int(end - begin);
    QVarLengthArray<char, 64> buffer(length);
    for (int i = 0; i < length; ++i)
        buffer[i] = char(begin[i].unicode());
    double value = 0.0;
    const auto result = std::from_chars(buffer.constData(), buffer.constData() + length, value);
    if (result.ec == std::errc() && result.ptr == buffer.constData() + length)
        return value;
    bool ok = false;
    value = QString(begin, length).toDouble(&ok);
    return ok ? value : 0.0;
}

int hexDigit(ushort c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(const QChar* begin, const QChar* end) : mPos(begin), mEnd(end) { }

    QVariant readValue(bool& ok)
    {
        switch (peek()) {
        case Token::ObjectStart: return readObject(ok);
        case Token::ArrayStart: return readArray(ok);
        case Token::String: {
            const QString text = readString(ok);
            return ok ? QVariant(text) : QVariant();
        }
        case Token::Number: return readNumber();
        case Token::True: mPos += 4; return QVariant(true);
        case Token::False: mPos += 5; return QVariant(false);
        case Token::Null: mPos += 4; return QVariant();
        default: ok = false; return QVariant();
        }
    }

private:
    void skipWhitespace()
    {
        while (mPos != mEnd) {
            const ushort c = mPos->unicode();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                break;
            ++mPos;
        }
    }

    bool startsWith(const char* literal, int length) const
    {
        if (mEnd - mPos < length)
            return false;
        for (int i = 0; i < length; ++i) {
            if (mPos[i].unicode() != ushort(literal[i]))
                return false;
        }
        return true;
    }

    // Skips whitespace and classifies the next token without consuming it.
    Token peek()
    {
        skipWhitespace();
        if (mPos == mEnd)
            return Token::End;
        const ushort c = mPos->unicode();
        switch (c) {
        case '{': return Token::ObjectStart;
        case '}': return Token::ObjectEnd;
        case '[': return Token::ArrayStart;
        case ']': return Token::ArrayEnd;
        case ':': return Token::Colon;
        case ',': return Token::Comma;
        case '"': return Token::String;
        default: break;
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return Token::Number;
        if (startsWith("true", 4))
            return Token::True;
        if (startsWith("false", 5))
            return Token::False;
        if (startsWith("null", 4))
            return Token::Null;
        return Token::End;
    }

    // Each nested container costs two stack frames; a hostile datagram must not
    // be able to recurse without bound.
    bool enter(bool& ok)
    {
        if (mDepth >= MaxDepth) {
            ok = false;
            return false;
        }
        ++mDepth;
        return true;
    }

    enum class Step { Element, Closed, Failed };

    // Skips any commas before the next element of an object or array and
    // consumes its closing token; the end of the text leaves it unclosed.
    Step nextElement(Token closing)
    {
        for (;;) {
            const Token token = peek();
            if (token == Token::End)
                return Step::Failed;
            if (token == Token::Comma) {
                ++mPos;
                continue;
            }
            if (token == closing) {
                ++mPos;
                return Step::Closed;
            }
            return Step::Element;
        }
    }

    QVariant readObject(bool& ok)
    {
        QVariantMap map;
        if (!enter(ok))
            return map;
        ++mPos; // {
        for (;;) {
            const Step step = nextElement(Token::ObjectEnd);
            if (step == Step::Closed) {
                --mDepth;
                return map;
            }
            if (step == Step::Failed) {
                ok = false;
                break;
            }
            // The key goes through the string reader even when it is not
            // quoted: its first character is taken for the quote.
            const QString key = readString(ok);
            if (!ok)
                break;
            if (peek() != Token::Colon) {
                ok = false;
                break;
            }
            ++mPos;
            QVariant value = readValue(ok);
            if (!ok)
                break;
            map.insert(key, value);
        }
        --mDepth;
        return QVariantMap();
    }

    QVariant readArray(bool& ok)
    {
        QVariantList list;
        if (!enter(ok))
            return list;
        ++mPos; // [
        for (;;) {
            const Step step = nextElement(Token::ArrayEnd);
            if (step == Step::Closed) {
                --mDepth;
                return list;
            }
            if (step == Step::Failed) {
                ok = false;
                break;
            }
            QVariant value = readValue(ok);
            if (!ok)
                break;
            list.append(value);
        }
        --mDepth;
        return QVariantList();
    }

    QString readString(bool& ok)
    {
        skipWhitespace();
        if (mPos != mEnd)
            ++mPos; // taken as the opening quote without looking at it
        QString text;
        for (;;) {
            const QChar* run = mPos;
            while (mPos != mEnd && mPos->unicode() != '"' && mPos->unicode() != '\\')
                ++mPos;
            if (mPos == mEnd)
                break;
            // Most strings have no escape: one exact allocation, no growing.
            if (mPos->unicode() == '"' && text.isEmpty()) {
                ++mPos;
                return QString(run, int(mPos - 1 - run));
            }
            text.append(run, int(mPos - run));
            if ((mPos++)->unicode() == '"')
                return text;
            if (mPos == mEnd)
                break;
            const ushort escape = (mPos++)->unicode();
            switch (escape) {
            case '"':
            case '\\':
            case '/': text.append(QChar(escape)); break;
            case 'b': text.append(QChar(0x08)); break;
            case 'f': text.append(QChar(0x0C)); break;
            case 'n': text.append(QChar(0x0A)); break;
            case 'r': text.append(QChar(0x0D)); break;
            case 't': text.append(QChar(0x09)); break;
            case 'u': {
                if (mEnd - mPos < 4) {
                    ok = false;
                    return QString();
                }
                // Four characters that are not all hexadecimal give U+0000.
                ushort unit = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = hexDigit(mPos[i].unicode());
                    if (digit < 0) {
                        unit = 0;
                        break;
                    }
                    unit = ushort(unit * 16 + digit);
                }
                mPos += 4;
                text.append(QChar(unit));
                break;
            }
            default: break; // unknown escapes drop the letter
            }
        }
        ok = false;
        return QString();
    }

    QVariant readNumber()
    {
        const QChar* begin = mPos;
        bool hasPoint = false;
        while (mPos != mEnd && isNumberChar(mPos->unicode())) {
            hasPoint = hasPoint || mPos->unicode() == '.';
            ++mPos;
        }
        if (hasPoint)
            return QVariant(realNumber(begin, mPos));
        if (begin->unicode() == '-')
            return signedNumber(begin, mPos);
        return unsignedNumber(begin, mPos);
    }

    const QChar* mPos;
    const QChar* mEnd;
    int mDepth = 0;
};

void appendQuoted(QString& out, const QString& text)
{
    out.reserve(out.size() + text.size() + 2);
    out.append(QLatin1Char('"'));
    const QChar* run = text.constData();
    const QChar* const end = run + text.size();
    for (const QChar* c = run; c != end; ++c) {
        const char* escaped = nullptr;
        switch (c->unicode()) {
        case '\\': escaped = "\\\\"; break;
        case '"': escaped = "\\\""; break;
        case 0x08: escaped = "\\b"; break;
        case 0x0C: escaped = "\\f"; break;
        case 0x0A: escaped = "\\n"; break;
        case 0x0D: escaped = "\\r"; break;
        case 0x09: escaped = "\\t"; break;
        default: continue;
        }
        out.append(run, int(c - run));
        out.append(QLatin1String(escaped, 2));
        run = c + 1;
    }
    out.append(run, int(end - run));
    out.append(QLatin1Char('"'));
}

bool write(QString& out, const QVariant& data);

template <typename Container> bool writePairs(QString& out, const Container& pairs)
{
    out.append(QLatin1String("{ "));
    bool first = true;
    for (auto it = pairs.constBegin(); it != pairs.constEnd(); ++it) {
        if (!first)
            out.append(QLatin1String(", "));
        first = false;
        appendQuoted(out, it.key());
        out.append(QLatin1String(" : "));
        if (!write(out, it.value()))
            return false;
    }
    out.append(QLatin1String(" }"));
    return true;
}

// Shortest fixed-point text that reads back as the same value (no exponent:
// the reader takes "1e5" for a string), with ".0" added so that integral values
// still read back as reals.
template <typename Real> bool writeReal(QString& out, Real value)
{
    if (!std::isfinite(value))
        return false;
    // The longest such text, that of the smallest negative subnormal double, has 327 characters.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc())
        return false;
    const QLatin1String text(buffer, int(result.ptr - buffer));
    out.append(text);
    if (!text.contains(QLatin1Char('.')))
        out.append(QLatin1String(".0"));
    return true;
}

bool write(QString& out, const QVariant& data)
{
    if (!data.isValid()) {
        out.append(QLatin1String("null"));
        return true;
    }
    const int type = data.userType();
    switch (type) {
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = data.toList();
        out.append(QLatin1String("[ "));
        for (int i = 0; i < list.size(); ++i) {
            if (i > 0)
                out.append(QLatin1String(", "));
            if (!write(out, list.at(i)))
                return false;
        }
        out.append(QLatin1String(" ]"));
        return true;
    }
    case QMetaType::QVariantHash: return writePairs(out, data.toHash());
    case QMetaType::QVariantMap: return writePairs(out, data.toMap());
    case QMetaType::QString:
    case QMetaType::QByteArray: appendQuoted(out, data.toString()); return true;
    case QMetaType::Double: return writeReal(out, data.toDouble());
    case QMetaType::Float:
        // Written as the float it is: its own shortest text reads back to the same float.
        return writeReal(out, data.toFloat());
    case QMetaType::Bool: out.append(data.toBool() ? QLatin1String("true") : QLatin1String("false")); return true;
    case QMetaType::ULongLong: out.append(QString::number(data.toULongLong())); return true;
    default: break;
    }
    if (data.canConvert<qlonglong>()) {
        out.append(QString::number(data.toLongLong()));
        return true;
    }
    if (type == QMetaType::QDateTime) {
        appendQuoted(out, data.toDateTime().toString(Qt::TextDate));
        return true;
    }
    if (type == QMetaType::QDate) {
        appendQuoted(out, data.toDate().toString(Qt::TextDate));
        return true;
    }
    if (data.canConvert<QString>()) {
        appendQuoted(out, data.toString());
        return true;
    }
    return false;
}

} // namespace

QVariant parse(const QString& text, bool& ok)
{
    ok = true;
    if (text.isNull())
        return QVariant();
    Reader reader(text.constData(), text.constData() + text.size());
    return reader.readValue(ok);
}

QByteArray serialize(const QVariant& data)
{
    QString out;
    if (!write(out, data))
        return QByteArray();
    return out.toUtf8();
}

QString quoteString(const QString& text)
{
    QString out;
    appendQuoted(out, text);
    return out;
}

} // namespace Json
