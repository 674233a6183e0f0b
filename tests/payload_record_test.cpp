// The payload record sfxpack writes and the stub reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload_record.h"

namespace {

TEST(PayloadRecordTest, PayloadRecordReadsBackOnlyWhole) {
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

// The author's texts after the part table: read back by tag, and refused when cut or unended.
TEST(PayloadRecordTest, AuthorTextsReadBackOnlyWhole) {
    PayloadRecord written;
    written.payloadSize = 1000;
    const PayloadPart parts[1] = {{5000, 7}};
    const PayloadText texts[2] = {{kTextDestination, "%LOCALAPPDATA%\\Démo"},
                                  {kTextSetupArgs, "/S /v\"/qn\""}};
    for (uint32_t laterParts : {0u, 1u}) {
        written.laterParts = laterParts;
        std::vector<unsigned char> bytes(PayloadRecordSize(laterParts, texts, 2));
        WritePayloadRecord(written, parts, texts, 2, bytes.data());
        PayloadRecord read;
        ASSERT_TRUE(ReadPayloadRecord(bytes.data(), bytes.size(), &read)) << laterParts;
        EXPECT_EQ(read.flags, kRecordTexts);
        EXPECT_EQ(read.laterParts, laterParts);
        for (const PayloadText& t : texts) {
            const char* text = nullptr;
            size_t length = 0;
            ASSERT_TRUE(PayloadRecordText(read, t.tag, &text, &length)) << t.tag;
            EXPECT_EQ(std::string(text, length), t.text);
        }
        const char* text = nullptr;
        size_t length = 0;
        EXPECT_FALSE(PayloadRecordText(read, 7, &text, &length));
        EXPECT_FALSE(ReadPayloadRecord(bytes.data(), bytes.size() - 1, &read)); // no end mark
        std::vector<unsigned char> longer = bytes;
        longer[bytes.size() - 4] = 9; // the end mark made a text running past the bytes
        longer[bytes.size() - 2] = 1;
        EXPECT_FALSE(ReadPayloadRecord(longer.data(), longer.size(), &read));
    }
    // Without texts the record is as it always was.
    written.laterParts = 0;
    EXPECT_EQ(PayloadRecordSize(0, texts, 0), kPayloadRecordSize);
}

} // namespace
