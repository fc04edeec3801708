// libFuzzer target for the JSON reader: any text must be handled without a
// crash, and whatever it accepts must survive writing and reading again.
#include "common/Json.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(bool condition, const char* what, const QByteArray& text)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\ntext (%d bytes): ", what, text.size());
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fputc('\n', stderr);
    std::abort();
}

// QString::fromUtf8(QByteArray) stops at the first NUL; strings may hold one.
QString decode(const QByteArray& text) { return QString::fromUtf8(text.constData(), text.size()); }

void roundTrip(const QString& input)
{
    bool ok = false;
    const QVariant value = Json::parse(input, ok);
    if (!ok)
        return;
    // The first writing may change what is read back (six-digit reals, text
    // that UTF-8 cannot carry); from then on text and value must be stable.
    const QByteArray first = Json::serialize(value);
    check(!first.isNull(), "a value the reader produced has no written form", input.toUtf8());
    const QVariant again = Json::parse(decode(first), ok);
    check(ok, "written text does not read back", first);
    const QByteArray second = Json::serialize(again);
    check(!second.isNull(), "re-read value has no written form", first);
    const QVariant third = Json::parse(decode(second), ok);
    check(ok, "second written text does not read back", second);
    check(Json::serialize(third) == second, "writing is not stable", second);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    // Datagrams arrive as UTF-8; settings files may carry any 8-bit text.
    roundTrip(QString::fromUtf8(bytes, int(size)));
    roundTrip(QString::fromLatin1(bytes, int(size)));
    return 0;
}
