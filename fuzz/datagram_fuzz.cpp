// libFuzzer target for the state datagram reader: the compact shape is read
// without the codec's map, and any text must decode exactly as the codec reads
// it (a blank after the opening brace sends the same text through the codec).
#include "common/StateDatagram.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }
bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }

bool equal(const StateDatagram::State& a, const StateDatagram::State& b)
{
    const float* fa[] = {&a.roll,      &a.pitch, &a.yaw,  &a.worldX, &a.worldY, &a.worldZ, &a.velocityX, &a.velocityY,
                         &a.velocityZ, &a.accX,  &a.accY, &a.accZ,   &a.gyroX,  &a.gyroY,  &a.gyroZ};
    const float* fb[] = {&b.roll,      &b.pitch, &b.yaw,  &b.worldX, &b.worldY, &b.worldZ, &b.velocityX, &b.velocityY,
                         &b.velocityZ, &b.accX,  &b.accY, &b.accZ,   &b.gyroX,  &b.gyroY,  &b.gyroZ};
    for (size_t i = 0; i < sizeof fa / sizeof fa[0]; ++i)
        if (!same(*fa[i], *fb[i]))
            return false;
    for (int i = 0; i < 8; ++i)
        if (!same(a.rpm[i], b.rpm[i]))
            return false;
    return same(a.worldLatitude, b.worldLatitude) && same(a.worldLongitude, b.worldLongitude) && a.time == b.time &&
        a.transformState == b.transformState && a.motorStarted == b.motorStarted && a.flyingState == b.flyingState &&
        a.productType == b.productType && a.senderIp == b.senderIp && a.simulatorCommand == b.simulatorCommand &&
        a.playBackEnabled == b.playBackEnabled && a.keys == b.keys && a.finite == b.finite;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    if (!text.startsWith('{'))
        return 0;
    const auto compact = StateDatagram::decode(text);
    const auto codec = StateDatagram::decode("{ " + text.mid(1));
    if (bool(compact) != bool(codec) || (compact && !equal(*compact, *codec))) {
        std::fprintf(stderr, "the compact reader and the codec disagree on: ");
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fputc('\n', stderr);
        std::abort();
    }
    return 0;
}
