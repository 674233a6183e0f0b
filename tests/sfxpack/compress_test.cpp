// The pure pieces of the LZX encoder and of the compression choice: what decoders rely on
// (complete length-limited codes, slots, the call translation) and what the command line says.
#include <gtest/gtest.h>

#include <random>

#include "cab/cab_set.h"
#include "compress/bit_writer.h"
#include "compress/compression.h"
#include "compress/e8_translation.h"
#include "compress/huffman.h"
#include "compress/lzx_format.h"

TEST(Compression, OptionsParseAndName) {
    const struct {
        const char* text;
        bool ok;
        uint16_t field;
        const char* name;
    } cases[] = {
        {"none", true, 0x0000, "none"},       {"mszip", true, 0x0001, "MSZIP"},
        {"lzx", true, 0x1503, "LZX:21"},      {"lzx:15", true, 0x0f03, "LZX:15"},
        {"lzx:21", true, 0x1503, "LZX:21"},   {"lzx:14", false, 0, ""},
        {"lzx:22", false, 0, ""},             {"lzx:", false, 0, ""},
        {"lzx:+16", false, 0, ""},            {"LZX", false, 0, ""},
        {"quantum", false, 0, ""},            {"", false, 0, ""},
    };
    for (const auto& c : cases) {
        Compression parsed;
        parsed.level = 3;
        Problems problems;
        EXPECT_EQ(ParseCompression(c.text, &parsed, &problems), c.ok) << c.text;
        EXPECT_EQ(problems.errors.size(), c.ok ? 0u : 1u) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(parsed.level, 3) << "the level is kept: " << c.text;
        EXPECT_EQ(CompressionField(parsed), c.field) << c.text;
        EXPECT_EQ(CompressionFieldName(c.field), c.name) << c.text;
    }
    EXPECT_EQ(CompressionFieldName(0x1202), "Quantum:18");
    EXPECT_EQ(CompressionFieldName(0x0004), "unknown (0x0004)");
    EXPECT_EQ(DescribeFolderCompression({0x1503, 0x1503}), "compression: LZX:21, 2 folders");
    EXPECT_EQ(DescribeFolderCompression({1, 0, 1}),
              "compression: MSZIP, 2 folders; none, 1 folder");
}

TEST(Compression, LzxFoldersFitTheirPartWhateverTheData) {
    for (uint64_t part : {MinPartBytes(CompressionKind::Lzx), uint64_t(1) << 20, kMaxCabinetBytes}) {
        const uint64_t limit = FolderLimit(part, kLzxWorstBlockGrowth);
        ASSERT_GT(limit, 0u) << part;
        EXPECT_LE(WorstCompressedSize(limit, kLzxWorstBlockGrowth) + kOneFileTablesBytes, part);
        EXPECT_LT(limit, FolderLimit(part)) << "LZX stores with more around a block";
    }
    EXPECT_EQ(FolderLimit(MinPartBytes(CompressionKind::Lzx) - 1, kLzxWorstBlockGrowth), 0u);
}

TEST(LzxFormat, SlotsCoverEveryOffsetOnce) {
    const struct {
        unsigned bits, slots;
    } windows[] = {{15, 30}, {16, 32}, {17, 34}, {18, 36}, {19, 38}, {20, 42}, {21, 50}};
    for (const auto& w : windows) {
        EXPECT_EQ(LzxSlotCount(w.bits), w.slots) << w.bits;
        // The last slot reaches the largest offset the window codes, and no further.
        const uint32_t largest = LzxMaxDistance(w.bits) + 2;
        const unsigned last = w.slots - 1;
        EXPECT_EQ(LzxSlotOf(largest), last) << w.bits;
        EXPECT_LE(LzxSlotBase(last), largest);
        EXPECT_GE(LzxSlotBase(last) + (uint32_t(1) << LzxSlotExtraBits(last)) - 1, largest);
    }
    for (unsigned s = 0; s + 1 < kLzxMaxSlots; ++s) {
        const uint32_t base = LzxSlotBase(s), next = LzxSlotBase(s + 1);
        EXPECT_EQ(next - base, uint32_t(1) << LzxSlotExtraBits(s)) << s;
        EXPECT_EQ(LzxSlotOf(base), s);
        EXPECT_EQ(LzxSlotOf(next - 1), s);
    }
}

// The Kraft sum of lengths, in units of 2^-limit.
static uint64_t Kraft(const uint8_t* lengths, unsigned n, unsigned limit) {
    uint64_t sum = 0;
    for (unsigned i = 0; i < n; ++i)
        if (lengths[i])
            sum += uint64_t(1) << (limit - lengths[i]);
    return sum;
}

TEST(Huffman, CodesAreCompleteAndWithinTheirLimit) {
    std::mt19937 rng(7);
    struct Case {
        const char* what;
        std::vector<uint32_t> freqs;
        unsigned limit;
    };
    std::vector<Case> cases = {
        {"one symbol", {0, 0, 5, 0}, 16},
        {"symbol 0 alone", {9, 0, 0}, 16},
        {"two", {1, 1000000}, 16},
        {"none", {0, 0, 0}, 16},
        {"aligned tree", {1, 2, 4, 8, 16, 32, 64, 128}, 7},
    };
    std::vector<uint32_t> fib(60);
    fib[0] = fib[1] = 1;
    for (size_t i = 2; i < 40; ++i)
        fib[i] = fib[i - 1] + fib[i - 2]; // the deepest unlimited tree
    cases.push_back({"fibonacci", fib, 16});
    cases.push_back({"fibonacci pretree", std::vector<uint32_t>(fib.begin(), fib.begin() + 20), 15});
    std::vector<uint32_t> random(656);
    for (uint32_t& f : random)
        f = rng() % 3 == 0 ? 0 : (1u << (rng() % 20)) + rng() % 7;
    cases.push_back({"random main tree", random, 16});
    for (const Case& c : cases) {
        const unsigned n = static_cast<unsigned>(c.freqs.size());
        std::vector<uint8_t> lengths(n);
        BuildLengths(c.freqs.data(), n, c.limit, lengths.data());
        unsigned used = 0;
        for (unsigned i = 0; i < n; ++i) {
            EXPECT_LE(lengths[i], c.limit) << c.what;
            if (c.freqs[i]) {
                EXPECT_GT(lengths[i], 0) << c.what << " symbol " << i;
            }
            used += lengths[i] > 0;
        }
        // Decoders refuse an incomplete code unless it is empty.
        if (used > 0) {
            EXPECT_EQ(Kraft(lengths.data(), n, c.limit), uint64_t(1) << c.limit) << c.what;
        }
        // Canonical codes: prefix-free, so each differs from the others in its length.
        std::vector<uint16_t> codes(n);
        BuildCodes(lengths.data(), n, codes.data());
        for (unsigned a = 0; a < n; ++a)
            for (unsigned b = 0; b < n && lengths[a]; ++b)
                if (a != b && lengths[b] >= lengths[a]) {
                    EXPECT_NE(codes[b] >> (lengths[b] - lengths[a]), codes[a]) << c.what;
                }
    }
}

TEST(BitWriter, WordsLittleEndianBitsHighFirst) {
    std::vector<uint8_t> out;
    BitWriter w;
    w.out = &out;
    PutBits(&w, 0x5, 3);     // 101
    PutBits(&w, 0x1ff, 13);  // 0000111111111 -> word 1010000111111111 = 0xa1ff
    PutBits(&w, 1, 1);
    AlignWord(&w);           // 1000000000000000 = 0x8000
    AlignWordStored(&w);     // aligned: a whole word of padding
    PutBits(&w, 0x1ffff, 17);
    AlignWordStored(&w);     // 1 bit in: 15 bits of padding
    const std::vector<uint8_t> expected = {0xff, 0xa1, 0x00, 0x80, 0x00, 0x00,
                                           0xff, 0xff, 0x00, 0x80};
    EXPECT_EQ(out, expected);
}

TEST(E8Translation, RoundTripsAndLeavesTheTailAlone) {
    std::mt19937 rng(11);
    const struct {
        const char* what;
        uint32_t start, frameIndex;
        size_t size;
    } frames[] = {
        {"first frame", 0, 0, 32768},
        {"later frame", 5 * 32768, 5, 32768},
        {"short last frame", 7 * 32768, 7, 100},
        {"too short to translate", 0, 0, 10},
        {"past the translated frames", 32768u * 32768u, 32768, 32768},
    };
    for (const auto& f : frames) {
        // Calls with near targets (some behind, some ahead), and other bytes.
        std::vector<uint8_t> data(f.size);
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<uint8_t>(rng());
            if (rng() % 8 == 0 && i + 5 <= data.size()) {
                const uint32_t target = static_cast<uint32_t>(int32_t(rng() % 0x20000) - 0x10000);
                data[i] = 0xE8;
                for (int k = 0; k < 4; ++k)
                    data[i + 1 + k] = static_cast<uint8_t>(target >> (8 * k));
                i += 4;
            }
        }
        const std::vector<uint8_t> original = data;
        TranslateE8(data.data(), data.size(), f.start, f.frameIndex, kLzxTranslationSize);
        const bool translates = f.frameIndex < kLzxTranslatedFrames && f.size > 10;
        EXPECT_EQ(data != original, translates) << f.what;
        // Nothing from the last 10 bytes on changes.
        if (f.size > 10) {
            EXPECT_TRUE(std::equal(data.end() - 6, data.end(), original.end() - 6)) << f.what;
        }
        UntranslateE8(data.data(), data.size(), f.start, f.frameIndex, kLzxTranslationSize);
        EXPECT_EQ(data, original) << f.what;
    }
    // A call at position 0x100 to 0x1000 (relative 0xf00 - 5 after the operand).
    uint8_t call[16] = {0};
    call[0] = 0xE8;
    call[1] = 0x10;
    TranslateE8(call, sizeof(call), 0x100, 0, kLzxTranslationSize);
    EXPECT_EQ(call[1] | call[2] << 8, 0x110) << "relative 0x10 at 0x100 is absolute 0x110";
}
