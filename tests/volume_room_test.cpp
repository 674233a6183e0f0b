// The amount the message about the volume's room names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "volume_room.h"

namespace {

TEST(VolumeRoomTest, AmountsAreRoundedUpToATenthOfAMegabyte) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0,0 Mo"},       {1, "0,1 Mo"},       {104857, "0,1 Mo"},          {104858, "0,2 Mo"},
        {1048576, "1,0 Mo"}, {1114112, "1,1 Mo"}, {5ULL << 40, "5242880,0 Mo"}};
    for (const auto& c : cases) {
        char text[32];
        FormatMegabytes(c.bytes, text, sizeof(text));
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
}

} // namespace
