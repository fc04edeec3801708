// Version-1 packages: the frames that cross the serial link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

constexpr uint8_t kPackageStart = 0x55;
constexpr size_t kPackageHeaderSize = 11; // start byte .. command id
constexpr size_t kPackageOverhead = 13; // header + frame checksum
constexpr size_t kPackageMaxLength = 1023; // ten-bit length field
constexpr size_t kPackageMaxPayload = kPackageMaxLength - kPackageOverhead;
constexpr uint8_t kHostAddress = 0x0A; // type 10, index 0
constexpr uint8_t kFlightControllerType = 3;
constexpr uint8_t kBroadcastType = 31;

constexpr uint8_t makeAddress(unsigned type, unsigned index) { return uint8_t((type & 0x1F) ^ (index << 5)); }
constexpr unsigned addressType(uint8_t address) { return address & 0x1F; }
constexpr unsigned addressIndex(uint8_t address) { return address >> 5; }

// A frame seen as a record. Always used through a pointer to frame bytes;
// multi-byte fields are little-endian and read byte by byte.
struct PackageProperty_V1 {
    uint8_t start;
    uint8_t lengthVersion[2];
    uint8_t headerCrc;
    uint8_t sender;
    uint8_t receiver;
    uint8_t sequence[2];
    uint8_t cmdFlags;
    uint8_t cmdSet;
    uint8_t cmdId;

    static const PackageProperty_V1* from(const uint8_t* frame)
    {
        return reinterpret_cast<const PackageProperty_V1*>(frame);
    }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(this); }
    const uint8_t* payload() const { return bytes() + kPackageHeaderSize; }

    unsigned lengthWord() const { return lengthVersion[0] | (lengthVersion[1] << 8); }
    unsigned length() const { return lengthWord() & 0x3FF; }
    unsigned version() const { return lengthWord() >> 10; }
    // Zero for the (checksum-valid but command-less) frames shorter than 13 bytes.
    size_t payloadLength() const { return length() >= kPackageOverhead ? length() - kPackageOverhead : 0; }
    unsigned seq() const { return sequence[0] | (sequence[1] << 8); }
    unsigned senderType() const { return addressType(sender); }
    unsigned senderIndex() const { return addressIndex(sender); }
    unsigned receiverType() const { return addressType(receiver); }
    unsigned receiverIndex() const { return addressIndex(receiver); }
};
static_assert(sizeof(PackageProperty_V1) == kPackageHeaderSize, "frame header must be packed");

uint8_t calcHeaderCrc(const uint8_t* data, size_t count);
// 0xFFFF for a null pointer.
uint16_t calcFrameCrc(const uint8_t* data, size_t count);

void sealHeader(uint8_t* frame);
bool checkHeader(const uint8_t* bytes);
void sealFrame(uint8_t* frame, size_t length);
bool checkFrame(const uint8_t* frame, size_t length);

// The whole frame (payloadLength + 13 bytes), sent as the host (0x0A).
// Empty when the payload does not fit the ten-bit length field.
std::vector<uint8_t> buildPackage(uint8_t cmdSet, uint8_t cmdId, const uint8_t* payload, size_t payloadLength,
                                  uint8_t receiverType, uint8_t receiverIndex, uint16_t seq);
// The same with any sender address, e.g. makeAddress(3, 0) for the flight controller's side.
std::vector<uint8_t> buildPackageFrom(uint8_t senderAddress, uint8_t cmdSet, uint8_t cmdId, const uint8_t* payload,
                                      size_t payloadLength, uint8_t receiverType, uint8_t receiverIndex, uint16_t seq);

enum DecodeStatus { DecodeOk = 0, DecodeIncomplete = 1, DecodeBadChecksum = 2 };

// Finds the first frame in buffer[0, count). Returns how many bytes to drop
// from the front; on DecodeOk the frame was copied to out, which must hold
// kPackageMaxLength bytes. On DecodeBadChecksum only the bytes up to and
// including the failed start byte are dropped.
size_t decodePackage(const uint8_t* buffer, size_t count, uint8_t* out, int* status);

// Receive buffer plus the reassembly loop. Not thread-safe: one reader feeds it.
// Bytes that cannot start a header are dropped as soon as they have been
// searched, so the buffer never holds more than one incomplete frame plus
// the bytes appended since the last run. A frame whose checksum fails costs
// only its start byte: the search goes on inside it. Frames behind a false
// header are therefore delivered, but only once the header's announced span
// has arrived.
class PackageAssembler {
public:
    using FrameHandler = std::function<void(const PackageProperty_V1* frame, size_t length)>;

    void append(const uint8_t* data, size_t count);
    // Hands every valid frame to the handler (pointer valid during the call);
    // returns the number of frames delivered.
    size_t process(const FrameHandler& handler);
    // append + process.
    size_t feed(const uint8_t* data, size_t count, const FrameHandler& handler);
    void clear();
    size_t buffered() const { return m_buffer.size() - m_head; }

private:
    size_t consume(const uint8_t* data, size_t count, const FrameHandler& handler, size_t* delivered);

    std::vector<uint8_t> m_buffer;
    size_t m_head = 0; // consumed bytes not yet compacted away
    std::vector<uint8_t> m_frame = std::vector<uint8_t>(4096);
};
