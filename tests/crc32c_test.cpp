// The payload digest: CRC-32C at every alignment of its tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crc32c.h"

namespace {

TEST(Crc32cTest, Crc32cMatchesKnownValuesAndTheTablesAtEveryAlignment) {
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

} // namespace
