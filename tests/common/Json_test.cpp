#include "common/Json.h"
#include "tests/common/QtPrint.h"

#include <QDate>
#include <QDateTime>
#include <QPoint>
#include <QStringList>
#include <QUrl>
#include <QVariantHash>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

// Typed, recursive description of a value: QVariant's own == treats int 1 and
// uint 1 as equal, but which of them the reader produces matters to callers.
QString describe(const QVariant& v)
{
    if (!v.isValid())
        return "invalid";
    switch (v.userType()) {
    case QMetaType::QVariantMap: {
        QStringList parts;
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            parts << it.key() + "=" + describe(it.value());
        return "map{" + parts.join(',') + "}";
    }
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant& e : v.toList())
            parts << describe(e);
        return "list[" + parts.join(',') + "]";
    }
    case QMetaType::Double: return "double:" + QString::number(v.toDouble(), 'g', 17);
    default: return QString(v.typeName()) + ":" + v.toString();
    }
}

QVariant parseOk(const QString& text)
{
    bool ok = false;
    const QVariant v = Json::parse(text, ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return v;
}

struct ReadCase {
    const char* text; // UTF-8
    const char* expected;
};

TEST(JsonParse, ProducesTheTypedValue)
{
    const ReadCase cases[] = {
        {"{}", "map{}"},
        {"[]", "list[]"},
        {" \t\r\n[ 1 ]", "list[uint:1]"},
        // lenient separators
        {"[1 2]", "list[uint:1,uint:2]"},
        {"[,1,,2,]", "list[uint:1,uint:2]"},
        {"{\"a\":1 \"b\":2}", "map{a=uint:1,b=uint:2}"},
        {"{,\"a\":1,,}", "map{a=uint:1}"},
        {"{\"a\":1, \"a\":2}", "map{a=uint:2}"},
        {"{\"b\":[true,false,null],\"a\":{\"x\":\"y\"}}",
         "map{a=map{x=QString:y},b=list[bool:true,bool:false,invalid]}"},
        // text after the first value is ignored
        {"{} garbage", "map{}"},
        {"truex", "bool:true"},
        {"null", "invalid"},
        {"1 2", "uint:1"},
        // integers: smallest type that holds the value, else the text itself
        {"-0", "int:0"},
        {"007", "uint:7"},
        {"4294967295", "uint:4294967295"},
        {"4294967296", "qulonglong:4294967296"},
        {"18446744073709551615", "qulonglong:18446744073709551615"},
        {"18446744073709551616", "QString:18446744073709551616"},
        {"-2147483648", "int:-2147483648"},
        {"-2147483649", "qlonglong:-2147483649"},
        {"-9223372036854775808", "qlonglong:-9223372036854775808"},
        {"-9223372036854775809", "QString:-9223372036854775809"},
        {"1e5", "QString:1e5"},
        {"12-3", "QString:12-3"},
        {"-", "QString:-"},
        {"-+5", "QString:-+5"},
        // reals
        {"1.5e3", "double:1500"},
        {"-0.25", "double:-0.25"},
        {"1.2.3", "double:0"},
        {"1.0e999", "double:0"},
        // strings and escapes
        {"\"a\\\"b\\\\c\\/d\"", "QString:a\"b\\c/d"},
        {"\"\\u00e9\\u00C9\"", "QString:\xC3\xA9\xC3\x89"},
        {"\"x\\qy\"", "QString:xy"},
        {"\"line\nbreak\"", "QString:line\nbreak"},
    };
    for (const ReadCase& c : cases)
        EXPECT_EQ(describe(parseOk(QString::fromUtf8(c.text))), QString::fromUtf8(c.expected)) << "text: " << c.text;
}

TEST(JsonParse, EscapedControlCharacters)
{
    EXPECT_EQ(parseOk("\"\\b\\f\\n\\r\\t\"").toString(), QString("\b\f\n\r\t"));
    // \u with characters that are not all hexadecimal gives U+0000
    EXPECT_EQ(parseOk("\"a\\u12G4b\"").toString(), QString("a") + QChar(0) + "b");
}

TEST(JsonParse, RealsConvertAsQStringDoes)
{
    // The reader takes a fast path for reals; it must agree with QString's
    // conversion, with 0.0 wherever that one refuses.
    const char* texts[] = {"0.1",
                           "1.",
                           "-.5",
                           "1.e5",
                           "1.5E+3",
                           "1.5e-3",
                           "00.5",
                           "-0.0",
                           "0.1234567890123456789",
                           "1.0e-400",
                           "4.9e-324",
                           "1.5e",
                           "1..2",
                           "1.5e3e4",
                           "-1.5+3",
                           "1.5e+",
                           "123456789012345678901234567890.5"};
    for (const char* text : texts) {
        bool convertible = false;
        double expected = QString(text).toDouble(&convertible);
        if (!convertible)
            expected = 0.0;
        const QVariant v = parseOk(text);
        EXPECT_EQ(v.userType(), QMetaType::Double) << text;
        EXPECT_EQ(v.toDouble(), expected) << text;
    }
}

TEST(JsonParse, FailuresReportNotOk)
{
    const char* texts[] = {
        "",         "   ", "{",       "[",     "]",       "}",         ":",
        ",",        "nul", "True",    "{a:1}", "{'a':1}", "{\"a\" 1}", "{\"a\":}",
        "{\"a\":1", "[1,", "[truex]", "\"abc", "\"abc\\", "\"\\u12\"", "[\"\\u1\"]",
    };
    for (const char* text : texts) {
        bool ok = true;
        Json::parse(QString::fromUtf8(text), ok);
        EXPECT_FALSE(ok) << "text: '" << text << "'";
    }
}

TEST(JsonParse, NullTextIsAnInvalidValueAndOk)
{
    bool ok = false;
    EXPECT_FALSE(Json::parse(QString(), ok).isValid());
    EXPECT_TRUE(ok);
}

TEST(JsonParse, CharactersBeyondLatin1AreNoToken)
{
    bool ok = true;
    Json::parse(QString(QChar(0x2018)) + "1", ok); // would be '\x18' if truncated
    EXPECT_FALSE(ok);
    EXPECT_EQ(parseOk(QString("[\"%1\"]").arg(QChar(0x4E2D))).toList().value(0).toString(), QString(QChar(0x4E2D)));
}

TEST(JsonParse, NestingIsCappedWithoutExhaustingTheStack)
{
    const int hostile = 100000;
    const QString arrays = QString("[").repeated(hostile);
    const QString objects = QString("{\"a\":").repeated(hostile);
    const QString mixed = QString("[{\"a\":").repeated(hostile / 2);
    for (const QString& text : {arrays, objects, mixed}) {
        bool ok = true;
        Json::parse(text, ok);
        EXPECT_FALSE(ok) << text.left(12).toStdString();
    }

    // Legitimate depth up to the cap still reads.
    const int depth = Json::MaxDepth;
    bool ok = false;
    QVariant v = Json::parse(QString("[").repeated(depth) + QString("]").repeated(depth), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(v.userType(), QMetaType::QVariantList);
    Json::parse(QString("[").repeated(depth + 1) + QString("]").repeated(depth + 1), ok);
    EXPECT_FALSE(ok);
    Json::parse(QString("{\"a\":").repeated(depth) + "1" + QString("}").repeated(depth), ok);
    EXPECT_TRUE(ok);
}

struct WriteCase {
    QVariant value;
    const char* expected; // UTF-8
};

TEST(JsonSerialize, WritesOneSpacedLine)
{
    QVariantMap map;
    map["b"] = QVariantList{1, "x"};
    map["a"] = true;
    QVariantHash hash;
    hash["k"] = QVariant();

    const WriteCase cases[] = {
        {QVariant(), "null"},
        {3.0, "3.0"},
        {2.0, "2.0"},
        {0.1, "0.1"},
        {-0.25, "-0.25"},
        {22.537018, "22.537018"},
        {123456789.0, "123456789.0"},
        {1000000.0, "1000000.0"},
        {0.00001, "0.00001"},
        {-0.0, "-0.0"},
        {QVariant(0.5f), "0.5"},
        {QVariant(0.1f), "0.1"},
        {true, "true"},
        {false, "false"},
        {-5, "-5"},
        {QVariant(uint(4294967295u)), "4294967295"},
        {QVariant(std::numeric_limits<qlonglong>::min()), "-9223372036854775808"},
        {QVariant(std::numeric_limits<qulonglong>::max()), "18446744073709551615"},
        {QVariant(QChar('A')), "65"},
        {QString("h\xC3\xA9"
                 "llo"),
         "\"h\xC3\xA9llo\""},
        {QByteArray("raw\"bytes"), "\"raw\\\"bytes\""},
        {QVariantList(), "[  ]"},
        {QVariantMap(), "{  }"},
        {QStringList{"a", "b"}, "[ \"a\", \"b\" ]"},
        {map, "{ \"a\" : true, \"b\" : [ 1, \"x\" ] }"},
        {hash, "{ \"k\" : null }"},
        {QUrl("http://localhost/x"), "\"http://localhost/x\""},
    };
    for (const WriteCase& c : cases) {
        const QByteArray text = Json::serialize(c.value);
        EXPECT_FALSE(text.isNull()) << c.expected;
        EXPECT_EQ(text, QByteArray(c.expected)) << c.value.typeName();
    }
    // dates are written as quoted text, not as the numbers they convert to
    const QDateTime when(QDate(2024, 3, 5), QTime(7, 8, 9));
    EXPECT_EQ(Json::serialize(when), "\"" + when.toString(Qt::TextDate).toUtf8() + "\"");
    EXPECT_EQ(Json::serialize(when.date()), "\"" + when.date().toString(Qt::TextDate).toUtf8() + "\"");
}

TEST(JsonSerialize, RealsReadBackAsTheSameDouble)
{
    const double values[] = {
        22.537018,
        22.537123,
        -113.953641,
        113.95364,
        0.1,
        1.0 / 3,
        -2.5,
        1e22,
        123456789012345678.0,
        1e-7,
        1e-300,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
        -0.0,
    };
    for (const double value : values) {
        const QByteArray text = Json::serialize(value);
        SCOPED_TRACE(text.left(40).constData());
        // An exponent would make the reader take the number for a string.
        EXPECT_FALSE(text.contains('e') || text.contains('E'));
        const QVariant back = parseOk(QString::fromLatin1(text));
        ASSERT_EQ(QMetaType::Double, back.userType());
        const double read = back.toDouble();
        EXPECT_EQ(0, std::memcmp(&value, &read, sizeof value)); // bit for bit: -0.0 stays negative
    }
    // The shortest such text: nothing beyond the digits the value needs.
    EXPECT_EQ("22.537123", Json::serialize(22.537123));
    EXPECT_EQ("-113.953641", Json::serialize(-113.953641));
    EXPECT_EQ("0.30000000000000004", Json::serialize(0.1 + 0.2));

    // A float reads back as a double that converts to the same float.
    for (const float value : {0.1f, 22.537018f, 3e-30f, 3e30f, std::numeric_limits<float>::denorm_min()}) {
        const QVariant back = parseOk(QString::fromLatin1(Json::serialize(value)));
        EXPECT_EQ(value, float(back.toDouble())) << Json::serialize(value).constData();
    }
}

TEST(JsonSerialize, ValuesWithoutJsonFormGiveANullResult)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    QVariantMap inMap;
    inMap["ok"] = 1;
    inMap["bad"] = nan;
    const QVariant values[] = {
        inf,
        -inf,
        nan,
        QVariant(std::numeric_limits<float>::infinity()),
        QPoint(1, 2),
        inMap,
        QVariantList{1, QPoint(1, 2), 3},
        QVariantList{QVariantList{inf}},
    };
    for (const QVariant& v : values)
        EXPECT_TRUE(Json::serialize(v).isNull()) << v.typeName();
}

TEST(JsonQuoteString, EscapesOnlyTheSevenCharacters)
{
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"a\\b\"c", "\"a\\\\b\\\"c\""},
        {"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
        {QString("/%1%2").arg(QChar(1)).arg(QChar(0xE9)), QString("\"/%1%2\"").arg(QChar(1)).arg(QChar(0xE9))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Json::quoteString(c.text), c.expected);
}

TEST(JsonRoundTrip, WrittenTextReadsBackTheSameValues)
{
    QVariantMap settings;
    settings["path \"quoted\" \\ back"] = "C:\\logs\\\"run\"\n\ttab \xC3\xA9";
    settings["count"] = 3;
    settings["rate"] = 0.5;
    settings["whole"] = 2.0;
    settings["on"] = true;
    settings["none"] = QVariant();
    settings["list"] = QVariantList{1, -2, "x", QVariantMap{{"k", false}}};

    const QByteArray text = Json::serialize(settings);
    ASSERT_FALSE(text.isNull());
    const QVariant back = parseOk(QString::fromUtf8(text));
    QVariantMap expected = settings;
    expected["count"] = uint(3); // non-negative integers read back unsigned
    expected["list"] = QVariantList{uint(1), -2, "x", QVariantMap{{"k", false}}};
    EXPECT_EQ(describe(back), describe(expected));
}

} // namespace
