// libFuzzer target for the reassembly loop: arbitrary bytes in arbitrary
// chunks. Every delivered frame must pass both checksums and be a piece of the
// stream, after the previous one; a valid frame sent after the bytes must
// then come through, unless a frame that passed both checksums began before
// it and reached into it (two overlapping valid frames: only one can be meant).
#include "link/ConsoleLog.h"
#include "link/Package.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

struct Span {
    size_t begin;
    size_t end;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Checksum errors are expected by the thousand.
    ConsoleLogger::global().setStream(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // Chunk sizes come from the end of the input, stream bytes from the front.
    Bytes stream;
    std::vector<size_t> chunks;
    while (input.remaining_bytes() > 0) {
        const size_t chunk = input.ConsumeIntegralInRange<size_t>(1, 600);
        const Bytes bytes = input.ConsumeBytes<uint8_t>(chunk);
        if (bytes.empty())
            break;
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        chunks.push_back(bytes.size());
    }

    // The marker frame, then enough quiet bytes for any announced span to complete.
    const uint8_t payload[6] = {'m', 'a', 'r', 'k', 'e', 'r'};
    const Bytes marker = buildPackageFrom(makeAddress(3, 0), 11, 1, payload, sizeof payload, 10, 0, 0x4D4B);
    const size_t markerAt = stream.size();
    stream.insert(stream.end(), marker.begin(), marker.end());
    stream.insert(stream.end(), kPackageMaxLength + 8, 0x00);
    const size_t tail = stream.size() - markerAt;
    for (size_t at = 0; at < tail; at += 97)
        chunks.push_back(std::min<size_t>(97, tail - at));

    std::vector<Span> delivered;
    const auto handler = [&](const PackageProperty_V1* frame, size_t length) {
        const uint8_t* bytes = frame->bytes();
        check(length >= kPackageOverhead && length <= kPackageMaxLength, "delivered frame has an impossible length");
        check(length == frame->length(), "delivered length differs from the header's");
        check(bytes[0] == kPackageStart && checkHeader(bytes), "delivered frame fails its header checksum");
        check(checkFrame(bytes, length), "delivered frame fails its frame checksum");
        // In stream order, not overlapping the previous frame.
        const size_t from = delivered.empty() ? 0 : delivered.back().end;
        const auto found = std::search(stream.begin() + std::ptrdiff_t(from), stream.end(), bytes, bytes + length);
        check(found != stream.end(), "delivered frame is not a piece of the stream after the previous one");
        const size_t begin = size_t(found - stream.begin());
        delivered.push_back({begin, begin + length});
    };

    PackageAssembler assembler;
    size_t at = 0;
    for (size_t chunk : chunks) {
        assembler.feed(stream.data() + at, chunk, handler);
        at += chunk;
    }
    check(at == stream.size(), "chunks do not cover the stream");
    check(std::any_of(delivered.begin(), delivered.end(),
                      [&](const Span& s) { return s.begin <= markerAt && s.end > markerAt; }),
          "the frame after the fuzzed bytes was lost");
    check(assembler.buffered() <= 4, "the receive buffer holds more than a partial header after quiet bytes");
    return 0;
}
