// The handle table and the keyed unmasking: pure logic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "handle_table.h"
#include "unmask.h"

static std::vector<intptr_t> Handles(const CMap& map) {
    std::vector<intptr_t> out;
    for (int i = 0; i < map.count; ++i)
        out.push_back(map.entries[i].handle);
    return out;
}

TEST(CMapTest, SetOverwritesExistingHandleWithoutGrowing) {
    CMap map;
    map.Set(0x1000, 0);
    map.Set(0x2000, 5);
    map.Set(0x1000, 77);
    EXPECT_EQ(map.count, 2);
    EXPECT_EQ(map.Get(map.Find(0x1000)), 77);
    EXPECT_EQ(map.Get(map.Find(0x2000)), 5);
    EXPECT_EQ(map.Find(0x3000), -1);
}

TEST(CMapTest, RemoveAtKeepsTheOrderOfTheOthers) {
    CMap map;
    for (intptr_t h = 1; h <= 5; ++h)
        map.Set(h * 16, static_cast<int32_t>(h));
    map.RemoveAt(map.Find(3 * 16));
    EXPECT_EQ(Handles(map), (std::vector<intptr_t>{16, 32, 64, 80}));
    map.RemoveAt(0);
    map.RemoveAt(map.count - 1);
    EXPECT_EQ(Handles(map), (std::vector<intptr_t>{32, 64}));
    map.RemoveAt(7); // outside the table: nothing moves
    EXPECT_EQ(Handles(map), (std::vector<intptr_t>{32, 64}));
    map.Clear();
    EXPECT_EQ(map.count, 0);
    EXPECT_EQ(map.Find(32), -1);
}

TEST(CMapTest, HundredAndFirstHandleOverflowsAndLeavesTheTableAlone) {
    CMap map;
    for (intptr_t h = 1; h <= CMap::kCapacity; ++h)
        map.Set(h, static_cast<int32_t>(h * 10));
    map.Set(50, -1); // an existing handle still updates in a full table
    const char* error = nullptr;
    try {
        map.Set(0x7777, 1);
    } catch (const char* text) {
        error = text;
    }
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error, "Overflow in CMap::Set()");
    EXPECT_EQ(map.count, CMap::kCapacity);
    EXPECT_EQ(map.Find(0x7777), -1);
    EXPECT_EQ(map.Get(49), -1);
    EXPECT_EQ(map.Get(99), 1000);
}

TEST(CMapTest, GetOutsideTheUsedPairsRaises) {
    CMap map;
    map.Set(1, 1);
    for (int index : {-1, 1, 100}) {
        const char* error = nullptr;
        try {
            map.Get(index);
        } catch (const char* text) {
            error = text;
        }
        ASSERT_NE(error, nullptr) << index;
        EXPECT_STREQ(error, "Invalid position in CMap::Get()");
    }
}

// Expected values worked out by hand from the transform's definition for this key, whose
// first byte is negative as a signed byte (so t wraps through 2^32).
TEST(UnmaskChunkTest, TransformsFromOffsetSixtyWithKnownValues) {
    const unsigned char key[] = {0x9C, 0x05, 0x77};
    struct Case {
        int32_t offset;
        unsigned char expected;
    } cases[] = {{59, 0x10}, {60, 0x68}, {61, 0x16}, {62, 0x87}, {100, 0x0B}, {1000, 0x57}};
    for (const Case& c : cases) {
        unsigned char b = 0x10;
        UnmaskChunk(&b, 1, key, 3, c.offset);
        EXPECT_EQ(b, c.expected) << "offset " << c.offset;
    }
}

TEST(UnmaskChunkTest, ChunkAtZeroGetsTheMarkerAndKeepsBytesUpToSixty) {
    const unsigned char key[] = {7, 1, 2, 3, 4};
    std::vector<unsigned char> stored(200);
    for (size_t i = 0; i < stored.size(); ++i)
        stored[i] = static_cast<unsigned char>(i * 37 + 11);
    std::vector<unsigned char> buf = stored;
    UnmaskChunk(buf.data(), static_cast<uint32_t>(buf.size()), key, 5, 0);
    EXPECT_EQ(std::memcmp(buf.data(), "MSCF", 4), 0);
    EXPECT_TRUE(std::equal(buf.begin() + 4, buf.begin() + 60, stored.begin() + 4));
    int changed = 0;
    for (size_t i = 60; i < buf.size(); ++i)
        changed += buf[i] != stored[i];
    EXPECT_GT(changed, 100);
}

TEST(UnmaskChunkTest, SplitReadsGiveTheSameBytesFromSixtyOn) {
    const unsigned char key[] = {0xF0, 0x33, 0x10, 0x99, 0x01, 0x42, 0x07};
    std::vector<unsigned char> stored(5000);
    for (size_t i = 0; i < stored.size(); ++i)
        stored[i] = static_cast<unsigned char>((i * 131) ^ (i >> 3));
    std::vector<unsigned char> whole = stored;
    UnmaskChunk(whole.data(), static_cast<uint32_t>(whole.size()), key, 7, 0);
    for (size_t split : {1u, 3u, 7u, 61u, 512u, 4095u}) {
        std::vector<unsigned char> pieces = stored;
        for (size_t at = 0; at < pieces.size(); at += split) {
            size_t n = std::min(split, pieces.size() - at);
            UnmaskChunk(pieces.data() + at, static_cast<uint32_t>(n), key, 7,
                        static_cast<int32_t>(at));
        }
        EXPECT_TRUE(std::equal(whole.begin() + 60, whole.end(), pieces.begin() + 60))
            << "split " << split;
    }
}

TEST(UnmaskChunkTest, MarkerDependsOnWhereTheChunkStarts) {
    const unsigned char key[] = {9};
    unsigned char atTwo[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    UnmaskChunk(atTwo + 2, 2, key, 1, 2); // bytes 2 and 3 as stored
    EXPECT_EQ(atTwo[2], 0xA3);
    EXPECT_EQ(atTwo[3], 0xA4);
    unsigned char atZero[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    UnmaskChunk(atZero, 4, key, 1, 0);
    EXPECT_EQ(atZero[2], 'C');
    EXPECT_EQ(atZero[3], 'F');
}

TEST(UnmaskChunkTest, ShortChunkAtZeroIsNotWrittenPastItsEnd) {
    const unsigned char key[] = {1, 2};
    for (uint32_t n = 0; n < 4; ++n) {
        unsigned char buf[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        UnmaskChunk(buf, n, key, 2, 0);
        for (uint32_t i = 0; i < 6; ++i)
            EXPECT_EQ(buf[i], i < n ? "MSCF"[i] : 0xEE) << "n " << n << " byte " << i;
    }
}
