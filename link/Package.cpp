#include "link/Package.h"

#include "link/ConsoleLog.h"

#include <array>
#include <cstring>

namespace {

constexpr uint8_t kHeaderCrcStart = 0x77;
constexpr uint16_t kFrameCrcStart = 0x3692;
constexpr size_t kMinHeaderLength = 11;
constexpr size_t kMinSearchBytes = 8;

// Reflected CRC table for the given reflected polynomial.
template <class T> constexpr std::array<T, 256> makeCrcTable(T polynomial)
{
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T crc = T(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? T((crc >> 1) ^ polynomial) : T(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrc8 = makeCrcTable<uint8_t>(0x8C);
constexpr auto kCrc16 = makeCrcTable<uint16_t>(0x8408);
static_assert(kCrc8[1] == 0x5E && kCrc8[128] == 0x8C, "CRC-8 table");
static_assert(kCrc16[1] == 0x1189 && kCrc16[128] == 0x8408, "CRC-16 table");

// Every header starts with 0x55, so the first table step is a constant.
constexpr uint8_t kCrcAfterStart = kCrc8[kHeaderCrcStart ^ kPackageStart];

inline unsigned frameLengthAt(const uint8_t* p) { return (p[1] | (p[2] << 8)) & 0x3FF; }

struct HeaderHit {
    size_t pos;
    size_t length;
};

// The first position that holds a start byte, a matching header checksum and
// a plausible length; pos == count when there is none.
HeaderHit findHeader(const uint8_t* buf, size_t count)
{
    if (count < kMinSearchBytes)
        return {count, 0};
    const uint8_t* const end = buf + count - 4;
    for (const uint8_t* p = buf; p < end; ++p) {
        p = static_cast<const uint8_t*>(memchr(p, kPackageStart, size_t(end - p)));
        if (!p)
            break;
        if (kCrc8[kCrc8[kCrcAfterStart ^ p[1]] ^ p[2]] == p[3]) {
            const size_t length = frameLengthAt(p);
            if (length >= kMinHeaderLength)
                return {size_t(p - buf), length};
        }
    }
    return {count, 0};
}

void logChecksumError() { logMessage(LogError, "Decoder", "Checksum Error!"); }

} // namespace

uint8_t calcHeaderCrc(const uint8_t* data, size_t count)
{
    uint8_t crc = kHeaderCrcStart;
    for (size_t i = 0; i < count; ++i)
        crc = kCrc8[crc ^ data[i]];
    return crc;
}

uint16_t calcFrameCrc(const uint8_t* data, size_t count)
{
    if (!data)
        return 0xFFFF;
    uint16_t crc = kFrameCrcStart;
    for (size_t i = 0; i < count; ++i)
        crc = uint16_t((crc >> 8) ^ kCrc16[(crc ^ data[i]) & 0xFF]);
    return crc;
}

void sealHeader(uint8_t* frame) { frame[3] = calcHeaderCrc(frame, 3); }

bool checkHeader(const uint8_t* bytes) { return calcHeaderCrc(bytes, 3) == bytes[3]; }

void sealFrame(uint8_t* frame, size_t length)
{
    if (!frame || length <= 2)
        return;
    const uint16_t crc = calcFrameCrc(frame, length - 2);
    frame[length - 2] = uint8_t(crc & 0xFF);
    frame[length - 1] = uint8_t(crc >> 8);
}

bool checkFrame(const uint8_t* frame, size_t length)
{
    if (!frame || length <= 2)
        return false;
    const uint16_t crc = calcFrameCrc(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

std::vector<uint8_t> buildPackageFrom(uint8_t senderAddress, uint8_t cmdSet, uint8_t cmdId, const uint8_t* payload,
                                      size_t payloadLength, uint8_t receiverType, uint8_t receiverIndex, uint16_t seq)
{
    if (payloadLength > kPackageMaxPayload)
        return {};
    const size_t length = payloadLength + kPackageOverhead;
    std::vector<uint8_t> frame(length, 0);
    const unsigned word = (length & 0x3FF) | 0x0400;
    frame[0] = kPackageStart;
    frame[1] = uint8_t(word & 0xFF);
    frame[2] = uint8_t(word >> 8);
    frame[4] = senderAddress;
    frame[5] = makeAddress(receiverType, receiverIndex);
    frame[6] = uint8_t(seq & 0xFF);
    frame[7] = uint8_t(seq >> 8);
    frame[8] = uint8_t((frame[8] & 0x30) | 0x40);
    frame[9] = cmdSet;
    frame[10] = cmdId;
    sealHeader(frame.data());
    if (payloadLength && payload)
        memcpy(frame.data() + kPackageHeaderSize, payload, payloadLength);
    sealFrame(frame.data(), length);
    return frame;
}

std::vector<uint8_t> buildPackage(uint8_t cmdSet, uint8_t cmdId, const uint8_t* payload, size_t payloadLength,
                                  uint8_t receiverType, uint8_t receiverIndex, uint16_t seq)
{
    return buildPackageFrom(kHostAddress, cmdSet, cmdId, payload, payloadLength, receiverType, receiverIndex, seq);
}

size_t decodePackage(const uint8_t* buffer, size_t count, uint8_t* out, int* status)
{
    *status = DecodeIncomplete;
    const HeaderHit hit = findHeader(buffer, count);
    if (hit.pos == count || count - hit.pos < hit.length)
        return 0;
    const uint8_t* frame = buffer + hit.pos;
    if (checkFrame(frame, hit.length)) {
        memcpy(out, frame, hit.length);
        *status = DecodeOk;
        return hit.pos + hit.length;
    }
    // The header may have been a chance match inside other bytes: only its
    // start byte is dropped, so a frame that begins within the span is found.
    logChecksumError();
    *status = DecodeBadChecksum;
    return hit.pos + 1;
}

void PackageAssembler::append(const uint8_t* data, size_t count)
{
    if (count)
        m_buffer.insert(m_buffer.end(), data, data + count);
}

size_t PackageAssembler::consume(const uint8_t* data, size_t count, const FrameHandler& handler, size_t* delivered)
{
    size_t at = 0;
    while (count - at > 5) {
        const uint8_t* const rest = data + at;
        const size_t left = count - at;
        const HeaderHit hit = findHeader(rest, left);
        if (hit.pos == left) {
            // Searched without a hit: only the last four bytes can still begin a header.
            if (left >= kMinSearchBytes)
                at += left - 4;
            break;
        }
        if (left - hit.pos < hit.length) {
            at += hit.pos; // wait for the rest of the frame
            break;
        }
        const uint8_t* frame = rest + hit.pos;
        if (!checkFrame(frame, hit.length)) {
            // A false or damaged header: search again from the byte after its
            // start byte, so valid frames inside the announced span survive.
            logChecksumError();
            at += hit.pos + 1;
            continue;
        }
        // The checksum holds but there is no room for a command: nothing a
        // listener could read safely. Like a failed frame it may be a chance
        // match, so only its start byte is passed over.
        if (hit.length < kPackageOverhead) {
            logMessage(LogError, "Decoder", "Package too short (%zu bytes), dropped", hit.length);
            at += hit.pos + 1;
            continue;
        }
        at += hit.pos + hit.length;
        // Listeners get a copy in a buffer larger than any frame, so a reader
        // that strays past a short frame stays inside it.
        memcpy(m_frame.data(), frame, hit.length);
        handler(PackageProperty_V1::from(m_frame.data()), hit.length);
        ++*delivered;
    }
    return at;
}

size_t PackageAssembler::process(const FrameHandler& handler)
{
    size_t delivered = 0;
    m_head += consume(m_buffer.data() + m_head, buffered(), handler, &delivered);
    if (m_head == m_buffer.size()) {
        m_buffer.clear();
        m_head = 0;
    } else if (m_head > 0) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_head));
        m_head = 0;
    }
    return delivered;
}

size_t PackageAssembler::feed(const uint8_t* data, size_t count, const FrameHandler& handler)
{
    if (buffered() > 0) {
        append(data, count);
        return process(handler);
    }
    // Nothing held back: decode straight from the caller's bytes and keep only the tail.
    size_t delivered = 0;
    const size_t used = consume(data, count, handler, &delivered);
    append(data + used, count - used);
    return delivered;
}

void PackageAssembler::clear()
{
    m_buffer.clear();
    m_head = 0;
}
