// Round trips of the LZX encoder through libmspack's cabinet decompressor: edge sizes,
// frame ends, the window's farthest match, runs, stored data and call translation, at every
// window size and level. The command line and Wine's decoder are covered by
// test_compression.py.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

#include "compress/lzx_format.h"
#include "lzx_cab.h"

using Bytes = std::vector<uint8_t>;
using Files = std::vector<Bytes>;

// n bytes that do not compress.
static Bytes Noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& c : b)
        c = uint8_t(rng());
    return b;
}

// n bytes of words from a small vocabulary: matches of every length and distance.
static Bytes Words(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"cabinet ", "folder ", "frame ", "window ", "match ",
                                         "literal ", "a ", "of ", "the ", "\r\n", "0x1f, "};
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        b.insert(b.end(), w, w + std::strlen(w));
    }
    b.resize(n);
    return b;
}

// n bytes like x86 code: calls (E8) every few bytes to a few dozen targets, some operands
// out of the translated range, and E8 on each of the last 16 bytes of every frame.
static Bytes Calls(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b = Words(n, seed);
    for (size_t i = 0; i + 5 <= n; i += 3 + rng() % 9) {
        const int32_t target = int32_t(rng() % 40) * 4096 - (rng() % 8 == 0 ? 0x40000000 : 0);
        const uint32_t rel = uint32_t(target - int32_t(i));
        b[i] = 0xE8;
        for (int k = 0; k < 4; ++k)
            b[i + 1 + k] = uint8_t(rel >> (8 * k));
    }
    for (size_t end = kLzxFrameSize; end <= n; end += kLzxFrameSize)
        for (size_t i = end - 16; i < end; ++i)
            b[i] = 0xE8;
    return b;
}

// Bytes a to b of v.
static Bytes Cut(const Bytes& v, size_t a, size_t b) {
    return Bytes(v.begin() + a, v.begin() + b);
}

// Where two byte strings first differ, for a failure message; "" when equal.
static std::string FirstDifference(const Bytes& got, const Bytes& want) {
    if (got == want)
        return "";
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        ++i;
    return "differs at byte " + std::to_string(i) + " (got " + std::to_string(got.size()) +
           " bytes, want " + std::to_string(want.size()) + ")";
}

// Packs files into one LZX folder, extracts them with libmspack and compares; the
// compressed size goes to *packed. Failures name what, window and level.
static void RoundTrip(const std::string& what, const LzxOptions& o, const Files& files,
                      size_t* packed = nullptr) {
    const std::string at = what + " lzx:" + std::to_string(o.windowBits) + " level " +
                           std::to_string(o.level);
    LzxCabinet cab;
    ASSERT_TRUE(BuildLzxCabinetOf(o, files, &cab)) << at;
    EXPECT_EQ(cab.frameFault, "") << at;
    Files out;
    std::string why;
    ASSERT_EQ(MspackExtractAll(cab.bytes, files.size(), &out, &why), 0) << at << ": " << why;
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(FirstDifference(out[i], files[i]), "") << at << ", file " << i;
    if (packed)
        *packed = cab.bytes.size();
}

// Every window size and level the encoder takes.
static std::vector<LzxOptions> AllOptions() {
    std::vector<LzxOptions> all;
    for (unsigned w = kLzxMinWindowBits; w <= kLzxMaxWindowBits; ++w)
        for (int level = kLzxMinLevel; level <= kLzxMaxLevel; ++level)
            all.push_back(LzxOptions{w, level});
    return all;
}

TEST(LzxRoundTrip, SizesAndFrameEnds) {
    const Bytes words = Words(200000, 1), noise = Noise(70000, 2);
    const struct {
        const char* what;
        Files files;
    } cases[] = {
        {"one empty file", {{}}},
        {"one byte", {{0x41}}},
        {"one E8 byte", {{0xE8}}},
        {"32767 bytes", {Cut(words, 0, 32767)}},
        {"32768 bytes", {Cut(words, 0, 32768)}},
        {"32769 bytes", {Cut(words, 0, 32769)}},
        {"32767 random bytes", {Cut(noise, 0, 32767)}},
        {"32769 random bytes", {Cut(noise, 0, 32769)}},
        {"65536 bytes", {Cut(words, 0, 65536)}},
        {"empty files around a frame end", {{}, Cut(words, 0, 32767), {}, {0x42}, {}, {0x43}}},
        {"files ending on frame ends", {Cut(words, 0, 32768), Cut(noise, 0, 32768), {}}},
        {"seven odd files", {Cut(words, 0, 1), Cut(noise, 0, 3), Cut(words, 5, 40005),
                             Cut(noise, 9, 25009), Cut(words, 7, 77), Cut(words, 100, 100000),
                             Cut(noise, 1000, 1001)}},
    };
    for (const LzxOptions& o : AllOptions())
        for (const auto& c : cases)
            RoundTrip(c.what, o, c.files);
}

TEST(LzxRoundTrip, Content) {
    const Bytes noise = Noise(300000, 3);
    Bytes twice = Cut(noise, 0, 50000);
    twice.insert(twice.end(), noise.begin(), noise.begin() + 50000); // one match 50000 back
    Bytes runs(1 << 20, 0);                                       // zeros: 257-byte matches
    Bytes pairs;
    for (size_t i = 0; i < 300000; ++i)
        pairs.push_back(i % 2 ? 0x90 : 0xCC);
    Bytes steps; // runs of every length from 1 to 600, crossing frame ends anywhere
    for (size_t len = 1; steps.size() < 200000; len = len % 600 + 1)
        steps.insert(steps.end(), len, uint8_t(len));
    Bytes allE8(100000, 0xE8);
    Bytes mixed = Words(100000, 4);
    const Bytes tail = Calls(100000, 5);
    mixed.insert(mixed.end(), noise.begin(), noise.begin() + 40000);
    mixed.insert(mixed.end(), tail.begin(), tail.end());
    mixed.insert(mixed.end(), 70000, 0);
    const struct {
        const char* what;
        Files files;
    } cases[] = {
        {"incompressible", {noise}},
        {"noise repeated once", {twice}},
        {"a megabyte of zeros", {runs}},
        {"a two-byte pattern", {pairs}},
        {"runs of every length", {steps}},
        {"calls", {Calls(300000, 6)}},
        {"E8 bytes only", {allE8}},
        {"calls split in files", {Calls(40000, 7), Calls(32768 - 3, 8), Calls(70001, 9)}},
        {"words, noise, calls and zeros", {mixed}},
    };
    for (const LzxOptions& o : AllOptions())
        for (const auto& c : cases)
            RoundTrip(c.what, o, c.files);
}

// Incompressible frames fall back to stored blocks: no frame grows past the stated bound,
// which FrameFault checks, and the folder stays within that bound overall.
TEST(LzxRoundTrip, StoredDataStaysWithinTheBound) {
    const Bytes noise = Noise(5 * kLzxFrameSize + 123, 10);
    for (int level = kLzxMinLevel; level <= kLzxMaxLevel; ++level) {
        LzxCabinet cab;
        ASSERT_TRUE(BuildLzxCabinetOf(LzxOptions{21, level}, {noise}, &cab));
        EXPECT_EQ(cab.frameFault, "") << "level " << level;
        EXPECT_EQ(cab.frames, 6u);
        const size_t blockHeaders = 8 * cab.frames, tables = 36 + 8 + 16 + 3;
        EXPECT_LE(cab.bytes.size(), noise.size() + cab.frames * kLzxMaxFrameGrowth + blockHeaders +
                                        tables)
            << "level " << level;
    }
}

// A match at the window's largest distance, 2^N - 3, is found and decodes; the same bytes
// one and three further back lie outside the window and must not be matched.
TEST(LzxRoundTrip, FarthestMatch) {
    constexpr size_t kChunk = 4096;
    for (unsigned w = kLzxMinWindowBits; w <= kLzxMaxWindowBits; ++w) {
        const size_t far = LzxMaxDistance(w);
        Bytes data = Noise(far + 3 + 3 * kChunk, w);
        // Chunk A repeats exactly far back; B one byte too far; C three bytes too far.
        const size_t a = 0, b = kChunk, c = 2 * kChunk;
        std::copy(data.begin() + a, data.begin() + a + kChunk, data.begin() + a + far);
        std::copy(data.begin() + b, data.begin() + b + kChunk, data.begin() + b + far + 1);
        std::copy(data.begin() + c, data.begin() + c + kChunk, data.begin() + c + far + 3);
        for (int level = kLzxMinLevel; level <= kLzxMaxLevel; ++level) {
            size_t packed = 0;
            RoundTrip("farthest match", LzxOptions{w, level}, {data}, &packed);
            // Only A can be matched: it saves most of its bytes, B and C none. Level 1's short
            // chains may not reach 2 MiB back through noise: only levels 2 and 3 must find it.
            if (level > 1 || w < kLzxMaxWindowBits) {
                EXPECT_LT(packed, data.size() - kChunk / 2) << "lzx:" << w << " level " << level
                                                        << ": the farthest match was not used";
            }
        }
    }
}

// The same input and options give the same bytes, however the input is cut into writes.
TEST(LzxEncoder, DeterministicAcrossWriteSizes) {
    const Bytes data = Calls(150000, 11);
    for (int level = kLzxMinLevel; level <= kLzxMaxLevel; ++level) {
        const LzxOptions o{16, level};
        std::vector<Bytes> outputs;
        for (size_t chunk : {data.size(), size_t(1), size_t(4095), size_t(32768), size_t(40000)}) {
            LzxEncoderPtr e = LzxCreate(o);
            ASSERT_TRUE(e);
            for (size_t at = 0; at < data.size(); at += chunk)
                LzxWrite(e.get(), data.data() + at, std::min(chunk, data.size() - at));
            LzxFinish(e.get());
            Bytes all;
            LzxFrame f;
            while (LzxTakeFrame(e.get(), &f))
                all.insert(all.end(), f.data.begin(), f.data.end());
            outputs.push_back(all);
        }
        for (size_t i = 1; i < outputs.size(); ++i)
            EXPECT_EQ(outputs[i], outputs[0]) << "level " << level << ", write size case " << i;
    }
}

TEST(LzxEncoder, OptionsOutOfRange) {
    const struct {
        unsigned windowBits;
        int level;
        bool valid;
    } cases[] = {
        {14, 2, false}, {22, 2, false}, {0, 2, false}, {15, 0, false}, {21, 4, false},
        {21, -1, false}, {15, 1, true}, {21, 3, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LzxCreate(LzxOptions{c.windowBits, c.level}) != nullptr, c.valid)
            << c.windowBits << "/" << c.level;
}

// A folder without a byte has no frame, and its empty files still extract.
TEST(LzxEncoder, EmptyFolderHasNoFrame) {
    LzxCabinet cab;
    ASSERT_TRUE(BuildLzxCabinetOf(LzxOptions{}, {{}, {}}, &cab));
    EXPECT_EQ(cab.frames, 0u);
    Files out;
    std::string why;
    EXPECT_EQ(MspackExtractAll(cab.bytes, 2, &out, &why), 0) << why;
}

// The largest folder: 65535 frames of 32 KiB, calls throughout, so frames past the last
// translated one (32768) carry E8 bytes too. Compressible and at level 1 to stay cheap; still
// about 45 s: a long test. LZX_TEST_FRAMES=N runs one of N frames.
TEST(LzxRoundTrip, FolderAtTheBlockLimit) {
    constexpr size_t kMaxFrames = 65535;
    const char* env = std::getenv("LZX_TEST_FRAMES");
    const size_t frames = env ? std::strtoul(env, nullptr, 10) : kMaxFrames;
    const char* isLong = std::getenv("ORVANTA_LONG");
    if (frames == kMaxFrames && !(isLong && std::strcmp(isLong, "1") == 0))
        GTEST_SKIP() << "long test (2 GiB through the encoder): runs with ORVANTA_LONG=1";
    const uint64_t total = uint64_t(frames) * kLzxFrameSize;
    const Bytes period = Calls(65537, 12); // byte i of the folder is period[i % size]
    const size_t kPiece = 1 << 20;
    uint64_t produced = 0;
    StreamSource source = [&](Bytes* out) {
        out->clear();
        for (; out->size() < kPiece && produced < total; ++produced)
            out->push_back(period[produced % period.size()]);
    };
    LzxCabinet cab;
    ASSERT_TRUE(BuildLzxCabinet(LzxOptions{21, 1}, {uint32_t(total)}, source, &cab));
    EXPECT_EQ(cab.frames, frames);
    EXPECT_EQ(cab.frameFault, "");
    uint64_t checked = 0, firstBad = UINT64_MAX;
    ByteSink sink = [&](const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size && firstBad == UINT64_MAX; ++i)
            if (data[i] != period[(checked + i) % period.size()])
                firstBad = checked + i;
        checked += size;
        return firstBad == UINT64_MAX;
    };
    std::string why;
    EXPECT_EQ(MspackExtract(cab.bytes, 0, sink, &why), 0) << why << ", first wrong byte "
                                                          << firstBad;
    EXPECT_EQ(checked, total);
}
