// The pure parts of the checks made before the first write: the digest, the payload record,
// the file table reader and the amount a message names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cab_format.h"
#include "cab_table.h"
#include "cab_writer.h"
#include "crc32c.h"
#include "payload_record.h"
#include "precheck.h"

namespace {

TEST(PrecheckTest, Crc32cMatchesKnownValuesAndTheTablesAtEveryAlignment) {
    EXPECT_EQ(Crc32c(0, "", 0), 0u);
    EXPECT_EQ(Crc32c(0, "123456789", 9), 0xE3069283u);
    EXPECT_EQ(Crc32c(0, std::string(32, '\0').data(), 32), 0x8A9136AAu);
    // Long enough for the three-stream steps, with a tail that is none.
    std::string large(3 * 3 * 32768 + 1237, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 2654435761u >> 13);
    EXPECT_EQ(Crc32c(0, large.data(), large.size()), Crc32cPortable(0, large.data(), large.size()));
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes.push_back(static_cast<char>(i * 131 + 7));
    for (size_t at = 0; at < 8; ++at) {
        for (size_t n = 0; at + n <= bytes.size(); n += 37) {
            const uint32_t whole = Crc32c(0, bytes.data() + at, n);
            EXPECT_EQ(whole, Crc32cPortable(0, bytes.data() + at, n)) << at << " " << n;
            EXPECT_EQ(whole, Crc32c(Crc32c(0, bytes.data() + at, n / 3), bytes.data() + at + n / 3,
                                    n - n / 3))
                << at << " " << n;
        }
    }
}

TEST(PrecheckTest, PayloadRecordReadsBackOnlyWhole) {
    PayloadRecord written;
    written.flags = kRecordProgressBar | 0x8000; // an unknown flag is kept
    written.payloadSize = 0x123456789AULL;
    written.crc32c = 0xCAFEF00D;
    const PayloadPart parts[2] = {{0x7FFF0000u, 0x01020304u}, {0x100000001ULL, 0xFFFFFFFFu}};
    for (uint32_t laterParts : {0u, 2u}) {
        written.laterParts = laterParts;
        std::vector<unsigned char> bytes(PayloadRecordSize(laterParts));
        WritePayloadRecord(written, parts, bytes.data());
        PayloadRecord read;
        ASSERT_TRUE(ReadPayloadRecord(bytes.data(), bytes.size(), &read)) << laterParts;
        EXPECT_EQ(read.flags, written.flags);
        EXPECT_EQ(read.payloadSize, written.payloadSize);
        EXPECT_EQ(read.crc32c, written.crc32c);
        ASSERT_EQ(read.laterParts, laterParts);
        for (uint32_t i = 0; i < laterParts; ++i) {
            EXPECT_EQ(PayloadPartAt(read, i).size, parts[i].size) << i;
            EXPECT_EQ(PayloadPartAt(read, i).crc32c, parts[i].crc32c) << i;
        }
        // Cut anywhere, the record or its table no longer reads back.
        EXPECT_FALSE(ReadPayloadRecord(bytes.data(), kPayloadRecordSize - 1, &read));
        if (laterParts) {
            EXPECT_FALSE(ReadPayloadRecord(bytes.data(), bytes.size() - 1, &read));
        }
        for (size_t at : {size_t{0}, size_t{4}}) { // the magic, the version
            std::vector<unsigned char> bad = bytes;
            bad[at] ^= 1;
            EXPECT_FALSE(ReadPayloadRecord(bad.data(), bad.size(), &read)) << at;
        }
    }
}

struct Walk {
    std::vector<std::string> names;
    uint64_t bytes = 0;
};

bool Collect(void* context, const CabTableFile& file) {
    Walk* walk = static_cast<Walk*>(context);
    walk->names.push_back(file.name);
    walk->bytes += file.size;
    return true;
}

void Put32(std::string* cab, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*cab)[at + i] = static_cast<char>(value >> (8 * i));
}

// A named set of broken tables: each is refused before any file is handed over.
TEST(PrecheckTest, FileTableIsReadWholeOrNotAtAll) {
    std::vector<CabEntry> files(3);
    files[0].name = "a.txt";
    files[1].name = "sub\\b.txt";
    files[2].name = std::string(255, 'n');
    files[0].data = "one";
    files[1].data = "two!";
    files[2].data = "three";
    const std::string good = WriteCab(files);
    const size_t table = static_cast<unsigned char>(good[kCfheadFilesOffset]);
    const size_t lastName = good.find(std::string(255, 'n'));
    struct Case {
        const char* what;
        std::string cab;
        size_t given; // bytes handed to the reader; 0: all
        CabTableResult result;
    } cases[] = {
        {"whole", good, 0, kTableRead},
        {"table cut by the bytes given", good, lastName + 10, kTableNeedMore},
        {"not a cabinet", "MSCX" + good.substr(4), 0, kTableNotCabinet},
        {"files before the folders end", good, 0, kTableDamaged},
        {"files past the declared size", good, 0, kTableDamaged},
        {"name without its terminator", good.substr(0, good.size()), 0, kTableDamaged},
    };
    Put32(&cases[3].cab, kCfheadFilesOffset, kCfheadSizeof);
    Put32(&cases[4].cab, kCfheadCabinetSize, static_cast<uint32_t>(table + 20));
    cases[5].cab[lastName + 255] = 'n'; // 256 name bytes and no NUL
    for (const Case& c : cases) {
        Walk walk;
        CabTableHeader header = {};
        size_t needed = 0;
        const size_t given = c.given ? c.given : c.cab.size();
        const CabTableResult result =
            ReadCabTable(reinterpret_cast<const unsigned char*>(c.cab.data()), given, &header,
                         &needed, Collect, &walk);
        EXPECT_EQ(result, c.result) << c.what;
        if (result == kTableRead) {
            EXPECT_EQ(walk.names,
                      (std::vector<std::string>{"a.txt", "sub\\b.txt", std::string(255, 'n')}));
            EXPECT_EQ(walk.bytes, 12u);
            EXPECT_EQ(header.cabinetSize, good.size());
        } else {
            EXPECT_TRUE(walk.names.empty()) << c.what;
        }
        if (result == kTableNeedMore) {
            EXPECT_GT(needed, given) << c.what;
            EXPECT_LE(needed, good.size()) << c.what;
        }
    }
}

TEST(PrecheckTest, AmountsAreRoundedUpToATenthOfAMegabyte) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0.0 MB"},       {1, "0.1 MB"},       {104857, "0.1 MB"},          {104858, "0.2 MB"},
        {1048576, "1.0 MB"}, {1114112, "1.1 MB"}, {5ULL << 40, "5242880.0 MB"}};
    for (const auto& c : cases) {
        char text[32];
        FormatMegabytes(c.bytes, text, sizeof(text));
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
}

} // namespace
