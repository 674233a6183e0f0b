// Unit tests of what --destination and --setup-args refuse; the texts written, read back and
// shown are tested by test_sfxpack.py.
#include <gtest/gtest.h>

#include "fakes.h"
#include "payload/payload_digest.h"

TEST(RecordText, Validation) {
    const std::string over = "is 65536 bytes long, over the 65535 a text of the payload record "
                             "may have\n";
    const struct {
        std::string text;
        std::string error; // empty: taken
    } cases[] = {
        {"C:\\Program Files\\Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\xa6", ""},
        {std::string(kMaxTextBytes, 'a'), ""},
        {std::string(kMaxTextBytes - 1, 'a') + "\xc3\xa9", over}, // bytes, not characters
        {"", "is empty\n"},
        {"caf\xe9", "\"caf\\xe9\" is not valid UTF-8\n"},
        {"\xc0\xaf", "\"\\xc0\\xaf\" is not valid UTF-8\n"},          // overlong '/'
        {"\xed\xa0\x80", "\"\\xed\\xa0\\x80\" is not valid UTF-8\n"}, // a surrogate
        {"a\xe6\x97", "\"a\\xe6\\x97\" is not valid UTF-8\n"},        // cut short
        {"/S\t/Q", "\"/S\\x09/Q\" holds a control character\n"},
        {"a\x7f", "\"a\\x7f\" holds a control character\n"},
        {"a\xc2\x85", "\"a\\xc2\\x85\" holds a control character\n"}, // NEL, a C1 control
        {std::string("a\0b", 3), "\"a\\x00b\" holds a control character\n"},
    };
    for (const auto& c : cases) {
        Problems problems;
        const std::string shown = c.text.substr(0, 40);
        EXPECT_EQ(CheckRecordText("--destination", c.text, &problems), c.error.empty()) << shown;
        EXPECT_EQ(ErrorText(problems), c.error.empty() ? "" : "--destination " + c.error) << shown;
    }
}
