#include "tests/link/LogCapture.h"
#include "link/Package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t* ascii(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

Bytes frameWith(uint8_t cmdSet, uint8_t cmdId, Bytes payload, uint16_t seq = 0)
{
    return buildPackage(cmdSet, cmdId, payload.data(), payload.size(), 3, 0, seq);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A correct header announcing `length`, the rest arbitrary.
Bytes headerOnly(unsigned length)
{
    Bytes h = {0x55, uint8_t(length & 0xFF), uint8_t(0x04 | (length >> 8)), 0};
    sealHeader(h.data());
    return h;
}

struct Delivered {
    std::vector<Bytes> frames;
    PackageAssembler::FrameHandler handler()
    {
        return [this](const PackageProperty_V1* f, size_t n) { frames.emplace_back(f->bytes(), f->bytes() + n); };
    }
};

} // namespace

TEST(Checksums, CheckValues)
{
    EXPECT_EQ(calcHeaderCrc(ascii("123456789"), 9), 0xFB);
    EXPECT_EQ(calcHeaderCrc(ascii("abc"), 3), 0xD7);
    EXPECT_EQ(calcFrameCrc(ascii("123456789"), 9), 0x7109);
    EXPECT_EQ(calcFrameCrc(ascii("abc"), 3), 0x865A);
    EXPECT_EQ(calcFrameCrc(nullptr, 3), 0xFFFF);
}

TEST(Checksums, SealAndCheckFrameRejectDegenerateInput)
{
    uint8_t two[2] = {1, 2};
    sealFrame(two, 2);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[1], 2);
    sealFrame(nullptr, 20);
    EXPECT_FALSE(checkFrame(nullptr, 20));
    EXPECT_FALSE(checkFrame(two, 2));

    Bytes f = frameWith(11, 1, {0, 0, 0, 0});
    EXPECT_TRUE(checkHeader(f.data()));
    EXPECT_TRUE(checkFrame(f.data(), f.size()));
    f[12] ^= 0x01;
    EXPECT_FALSE(checkFrame(f.data(), f.size()));
    EXPECT_TRUE(checkHeader(f.data())); // the header checksum covers bytes 0-2 only
}

TEST(BuildPackage, EncodesTheKnownFrames)
{
    struct Case {
        uint8_t set, id;
        Bytes payload;
        Bytes expected;
    };
    const Case cases[] = {
        {11,
         1,
         {0, 0, 0, 0},
         {0x55, 0x11, 0x04, 0x92, 0x0A, 0x03, 0x00, 0x00, 0x40, 0x0B, 0x01, 0, 0, 0, 0, 0xA9, 0xAC}},
        {11,
         1,
         {0, 1, 0, 0},
         {0x55, 0x11, 0x04, 0x92, 0x0A, 0x03, 0x00, 0x00, 0x40, 0x0B, 0x01, 0, 1, 0, 0, 0x75, 0xF6}},
        {11, 2, {1}, {0x55, 0x0E, 0x04, 0x66, 0x0A, 0x03, 0x00, 0x00, 0x40, 0x0B, 0x02, 0x01, 0x11, 0xC2}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(frameWith(c.set, c.id, c.payload), c.expected);
}

TEST(BuildPackage, FieldsAndSenderAddress)
{
    const uint8_t payload[] = {9, 8, 7};
    const Bytes f = buildPackageFrom(makeAddress(3, 0), 0, 14, payload, 3, 10, 2, 0xBEEF);
    ASSERT_EQ(f.size(), 16u);
    const auto* p = PackageProperty_V1::from(f.data());
    EXPECT_EQ(p->sender, 0x03);
    EXPECT_EQ(p->receiver, 0x4A); // type 10, index 2
    EXPECT_EQ(p->receiverType(), 10u);
    EXPECT_EQ(p->receiverIndex(), 2u);
    EXPECT_EQ(p->seq(), 0xBEEFu);
    EXPECT_EQ(p->version(), 1u);
    EXPECT_EQ(p->length(), 16u);
    EXPECT_EQ(p->payloadLength(), 3u);
    EXPECT_EQ(p->cmdFlags, 0x40);
    EXPECT_EQ(0, memcmp(p->payload(), payload, 3));
    EXPECT_TRUE(checkFrame(f.data(), f.size()));

    EXPECT_EQ(buildPackage(0, 1, nullptr, 0, 3, 0, 0).size(), 13u);
    const Bytes largest(kPackageMaxPayload, 0xAB);
    EXPECT_EQ(buildPackage(11, 6, largest.data(), largest.size(), 3, 0, 0).size(), kPackageMaxLength);
}

TEST(BuildPackage, PayloadBeyondTheLengthFieldIsRefused)
{
    // Its length would wrap in the ten-bit field and the peer would cut the stream wrongly.
    const Bytes tooLong(kPackageMaxPayload + 1, 0);
    EXPECT_TRUE(buildPackage(11, 6, tooLong.data(), tooLong.size(), 3, 0, 0).empty());
}

TEST(DecodePackage, FindsChecksAndConsumesFrames)
{
    const Bytes good = frameWith(11, 1, {0, 1, 0, 0});
    Bytes bad = good;
    bad[13] ^= 0xFF;
    const Bytes garbage = {0x00, 0x55, 0x13, 0x55, 0x10, 0x04};
    Bytes shortHeader = headerOnly(10); // valid CRC-8 but announces 10 bytes
    shortHeader.resize(8, 0);

    struct Case {
        const char* name;
        Bytes buffer;
        size_t consumed;
        int status;
    };
    const Case cases[] = {
        {"empty", {}, 0, DecodeIncomplete},
        {"seven bytes of a valid header", Bytes(good.begin(), good.begin() + 7), 0, DecodeIncomplete},
        {"frame missing its last byte", Bytes(good.begin(), good.end() - 1), 0, DecodeIncomplete},
        {"whole frame", good, good.size(), DecodeOk},
        {"garbage then frame", concat({garbage, good}), garbage.size() + good.size(), DecodeOk},
        {"length <= 10 is no header", concat({shortHeader, good}), shortHeader.size() + good.size(), DecodeOk},
        {"bad checksum consumes its start byte only", concat({garbage, bad, good}), garbage.size() + 1,
         DecodeBadChecksum},
        {"garbage only", Bytes(100, 0x55), 0, DecodeIncomplete},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        uint8_t out[kPackageMaxLength] = {};
        int status = -1;
        EXPECT_EQ(decodePackage(c.buffer.data(), c.buffer.size(), out, &status), c.consumed);
        EXPECT_EQ(status, c.status);
        if (status == DecodeOk) {
            EXPECT_EQ(Bytes(out, out + good.size()), good);
        }
        EXPECT_EQ(log.text().find("Checksum Error!") != std::string::npos, c.status == DecodeBadChecksum);
    }
}

TEST(PackageAssembler, SplitFrameIsDeliveredOnceWithItsLastByte)
{
    const Bytes f = frameWith(11, 6, Bytes(58, 0x11), 7);
    PackageAssembler assembler;
    Delivered got;
    for (size_t i = 0; i + 1 < f.size(); ++i)
        EXPECT_EQ(assembler.feed(&f[i], 1, got.handler()), 0u) << "byte " << i;
    EXPECT_EQ(assembler.feed(&f.back(), 1, got.handler()), 1u);
    ASSERT_EQ(got.frames.size(), 1u);
    EXPECT_EQ(got.frames[0], f);
    EXPECT_EQ(assembler.buffered(), 0u);
}

TEST(PackageAssembler, StreamOfGoodBadAndGarbage)
{
    const Bytes a = frameWith(11, 1, {0, 0, 0, 0}, 1);
    const Bytes b = frameWith(0, 14, {2, 'h', 'i', 0}, 2);
    Bytes bad = frameWith(11, 6, Bytes(58, 0), 3);
    bad.back() ^= 0x40;
    // A frame with a bad checksum must not hide a good frame that begins inside it.
    Bytes hiding = bad;
    std::copy(a.begin(), a.end(), hiding.begin() + 20);
    sealHeader(hiding.data());
    const Bytes stream = concat({{1, 2, 3}, a, bad, b, {0x55, 0x55}, hiding, b, {0x55, 0x11}});

    LogCapture log;
    PackageAssembler assembler;
    Delivered got;
    // Arbitrary chunk sizes must not change the outcome.
    for (size_t chunk : {size_t(1), size_t(5), size_t(64), stream.size()}) {
        SCOPED_TRACE(chunk);
        got.frames.clear();
        assembler.clear();
        for (size_t at = 0; at < stream.size(); at += chunk)
            assembler.feed(&stream[at], std::min(chunk, stream.size() - at), got.handler());
        EXPECT_EQ(got.frames, (std::vector<Bytes>{a, b, a, b}));
        EXPECT_EQ(assembler.buffered(), 2u); // the trailing partial header waits
    }
    size_t errors = 0;
    const std::string text = log.text();
    for (size_t at = text.find("[Decoder  @"); at != std::string::npos; at = text.find("[Decoder  @", at + 1))
        ++errors;
    EXPECT_EQ(errors, 8u);
    EXPECT_NE(text.find("] Checksum Error!\n"), std::string::npos);
}

TEST(PackageAssembler, GarbageBurstStaysBoundedAndNextFrameDecodes)
{
    PackageAssembler assembler;
    Delivered got;
    // Start bytes everywhere, none followed by a usable length.
    Bytes garbage(4096);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = (i % 3 == 0) ? 0x55 : 0x00;
    for (int i = 0; i < 256; ++i) { // 1 MiB
        assembler.feed(garbage.data(), garbage.size(), got.handler());
        ASSERT_LE(assembler.buffered(), 4u);
    }
    const Bytes f = frameWith(11, 1, {0, 0, 0, 0});
    assembler.feed(f.data(), f.size(), got.handler());
    EXPECT_EQ(got.frames, std::vector<Bytes>{f});
}

TEST(PackageAssembler, FalseHeaderHoldsAtMostItsAnnouncedLength)
{
    PackageAssembler assembler;
    Delivered got;
    LogCapture log;
    const Bytes fake = headerOnly(1023);
    assembler.feed(fake.data(), fake.size(), got.handler());
    const Bytes zeros(1000, 0);
    assembler.feed(zeros.data(), zeros.size(), got.handler());
    EXPECT_EQ(assembler.buffered(), 1004u);
    const Bytes rest(19, 0);
    assembler.feed(rest.data(), rest.size(), got.handler()); // completes the fake frame: checksum fails
    EXPECT_LE(assembler.buffered(), 4u);
    const Bytes f = frameWith(11, 1, {0, 0, 0, 0});
    assembler.feed(f.data(), f.size(), got.handler());
    EXPECT_EQ(got.frames, std::vector<Bytes>{f});
    EXPECT_NE(log.text().find("Checksum Error!"), std::string::npos);
}

TEST(PackageAssembler, ChecksumValidFrameWithoutCommandIsNotDelivered)
{
    Bytes tiny = headerOnly(11);
    tiny.resize(11, 0);
    sealFrame(tiny.data(), tiny.size());
    const Bytes f = frameWith(11, 1, {0, 0, 0, 0});
    PackageAssembler assembler;
    Delivered got;
    LogCapture log;
    // Nor does it hide a frame that begins inside it: a 12-byte one whose
    // checksum is the frame's bytes 4 and 5 (two free bytes make it hold).
    Bytes lead = headerOnly(12);
    lead.resize(6, 0);
    for (unsigned v = 0; v < 0x10000; ++v) {
        lead[4] = uint8_t(v), lead[5] = uint8_t(v >> 8);
        Bytes tinyAhead = concat({lead, Bytes(f.begin(), f.begin() + 6)});
        if (checkFrame(tinyAhead.data(), tinyAhead.size()))
            break;
    }
    ASSERT_TRUE(checkFrame(concat({lead, Bytes(f.begin(), f.begin() + 6)}).data(), 12));
    const Bytes stream = concat({tiny, f, lead, f});
    assembler.feed(stream.data(), stream.size(), got.handler());
    EXPECT_EQ(got.frames, (std::vector<Bytes>{f, f}));
    EXPECT_NE(log.text().find("Package too short (11 bytes), dropped"), std::string::npos);
}

// Valid frames behind garbage, a truncated frame or a header that only looks
// right are all delivered, whatever the chunking; each failed frame is reported.
TEST(PackageAssembler, ValidFramesAfterDamageAreAllDelivered)
{
    auto state = [](uint16_t seq) { return frameWith(11, 6, Bytes(58, uint8_t(seq)), seq); };
    auto truncated = [&](uint16_t seq) {
        const Bytes f = state(seq);
        return Bytes(f.begin(), f.begin() + 30);
    };
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<Bytes> expected;
        size_t checksumErrors; // at least
    };
    std::vector<Case> cases;
    {
        Case c{"50 frames after a false header announcing 1023 bytes", headerOnly(1023), {}, 1};
        for (uint16_t i = 0; i < 50; ++i) {
            c.stream = concat({c.stream, state(i)});
            c.expected.push_back(state(i));
        }
        cases.push_back(c);
    }
    {
        Case c{"50 x (truncated frame + valid frame)", {}, {}, 50};
        for (uint16_t i = 0; i < 50; ++i) {
            c.stream = concat({c.stream, truncated(uint16_t(100 + i)), state(i)});
            c.expected.push_back(state(i));
        }
        cases.push_back(c);
    }
    {
        Case c{"false headers of every kind of length between frames", {}, {}, 4};
        for (unsigned length : {11u, 13u, 71u, 500u}) {
            const uint16_t seq = uint16_t(length);
            c.stream = concat({c.stream, headerOnly(length), {1, 2, 3}, state(seq), state(uint16_t(seq + 1))});
            c.expected.push_back(state(seq));
            c.expected.push_back(state(uint16_t(seq + 1)));
        }
        c.stream = concat({c.stream, Bytes(600, 0)}); // lets the last span complete
        cases.push_back(c);
    }
    {
        Bytes damaged = state(7);
        damaged[40] ^= 0x01;
        cases.push_back({"garbage, a damaged frame, then a frame",
                         concat({{0x55, 0x00, 0x55, 0x13}, damaged, state(8)}),
                         {state(8)},
                         1});
    }

    for (const Case& c : cases) {
        for (size_t chunk : {size_t(1), size_t(7), size_t(100), c.stream.size()}) {
            SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
            LogCapture log;
            PackageAssembler assembler;
            Delivered got;
            for (size_t at = 0; at < c.stream.size(); at += chunk)
                assembler.feed(&c.stream[at], std::min(chunk, c.stream.size() - at), got.handler());
            EXPECT_EQ(got.frames.size(), c.expected.size());
            EXPECT_EQ(got.frames, c.expected);
            size_t errors = 0;
            const std::string text = log.text();
            for (size_t at = text.find("Checksum Error!"); at != std::string::npos;
                 at = text.find("Checksum Error!", at + 1))
                ++errors;
            EXPECT_GE(errors, c.checksumErrors);
        }
    }
}
