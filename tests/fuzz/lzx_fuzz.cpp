// Fuzzes the LZX encoder against libmspack's decoder: whatever the input, window and level,
// the one-folder cabinet it makes extracts byte for byte, and no frame breaks a data
// block's bounds. Input: window (byte 0), level (byte 1), copies (byte 2), where the stream
// splits into two files (byte 3), then the data; the stream is the data repeated copies
// times, each copy slightly changed, so that inputs of a few KiB span frames.
#include <cstdlib>
#include <vector>

#include "lzx_cab.h"

constexpr size_t kHeaderBytes = 4;
constexpr unsigned kMaxCopies = 12;
constexpr size_t kChangeEvery = 61; // each copy differs from the previous every 61 bytes

// Aborts, which the fuzzer reports with the input, when a property does not hold.
static void Require(bool property) {
    if (!property)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes)
        return 0;
    LzxOptions o;
    o.windowBits = kLzxMinWindowBits + data[0] % (kLzxMaxWindowBits - kLzxMinWindowBits + 1);
    o.level = kLzxMinLevel + data[1] % (kLzxMaxLevel - kLzxMinLevel + 1);
    const unsigned copies = 1 + data[2] % kMaxCopies;
    const uint8_t* body = data + kHeaderBytes;
    const size_t bodySize = size - kHeaderBytes;

    std::vector<uint8_t> stream;
    for (unsigned k = 0; k < copies; ++k)
        for (size_t i = 0; i < bodySize; ++i)
            stream.push_back(i % kChangeEvery == 0 ? uint8_t(body[i] ^ k) : body[i]);
    const size_t split = stream.size() * data[3] / 255;
    const std::vector<std::vector<uint8_t>> files = {
        std::vector<uint8_t>(stream.begin(), stream.begin() + split),
        std::vector<uint8_t>(stream.begin() + split, stream.end())};

    LzxCabinet cab;
    Require(BuildLzxCabinetOf(o, files, &cab));
    Require(cab.frameFault.empty());
    std::vector<std::vector<uint8_t>> out;
    std::string why;
    Require(MspackExtractAll(cab.bytes, files.size(), &out, &why) == 0);
    Require(out == files);
    return 0;
}
