// Unit tests of the author's texts in the payload record: what --destination and --setup-args
// refuse, and what the record holds and --list and --check show once written.
#include <gtest/gtest.h>

#include "crc32c.h"
#include "fakes.h"
#include "payload/payload_digest.h"

TEST(RecordText, Validation) {
    const std::string over = "is 65536 bytes long, over the 65535 a text of the payload record "
                             "may have\n";
    const struct {
        std::string text;
        std::string error; // empty: taken
    } cases[] = {
        {"%LOCALAPPDATA%\\Demo", ""},
        {"C:\\Program Files\\Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x93\xa6", ""},
        {"/S /D=\"C:\\a b\" --", ""},
        {" ", ""},
        {std::string(kMaxTextBytes, 'a'), ""},
        {std::string(kMaxTextBytes - 1, 'a') + "\xc3\xa9", over},
        {"", "is empty\n"},
        {std::string(kMaxTextBytes + 1, 'a'), over},
        {"caf\xe9", "\"caf\\xe9\" is not valid UTF-8\n"},
        {"\xc0\xaf", "\"\\xc0\\xaf\" is not valid UTF-8\n"},             // overlong '/'
        {"\xed\xa0\x80", "\"\\xed\\xa0\\x80\" is not valid UTF-8\n"},    // a surrogate
        {"a\xe6\x97", "\"a\\xe6\\x97\" is not valid UTF-8\n"},           // cut short
        {"/S\t/Q", "\"/S\\x09/Q\" holds a control character\n"},
        {"C:\\Demo\n", "\"C:\\Demo\\x0a\" holds a control character\n"},
        {"a\x7f", "\"a\\x7f\" holds a control character\n"},
        {"a\xc2\x85", "\"a\\xc2\\x85\" holds a control character\n"},      // NEL, a C1 control
        {std::string("a\0b", 3), "\"a\\x00b\" holds a control character\n"},
    };
    for (const auto& c : cases) {
        Problems problems;
        const bool taken = CheckRecordText("--destination", c.text, &problems);
        const std::string shown = c.text.substr(0, 40);
        EXPECT_EQ(taken, c.error.empty()) << shown;
        EXPECT_EQ(ErrorText(problems), c.error.empty() ? "" : "--destination " + c.error) << shown;
    }
}

// The record written for a payload of cab with these later parts and texts, with the lines
// --check (verify) shows for it and its problems.
struct Written {
    Bytes bytes;
    std::vector<std::string> lines;
    std::string problems;
};

static Written WriteAndDescribe(const Bytes& cab, const std::vector<PayloadPart>& parts,
                                const std::vector<RecordText>& texts) {
    PayloadRecord record;
    record.flags = kRecordProgressBar;
    record.payloadSize = cab.size();
    record.crc32c = Crc32c(0, cab.data(), cab.size());
    std::vector<Resource> list;
    SetPayloadRecord(record, parts, texts, &list);
    Written w;
    EXPECT_EQ(list.size(), 1u);
    w.bytes = list.at(0).data;
    Problems problems;
    DescribePayloadRecord(MemorySource(cab.data(), cab.size()), list, {0, cab.size()}, true,
                          &w.lines, &problems);
    w.problems = ErrorText(problems);
    return w;
}

TEST(RecordText, WrittenReadBackAndShown) {
    const Bytes cab(300, 7);
    const std::vector<PayloadPart> none, two = {{1000, 0x11223344}, {20, 5}};
    const RecordText dest = {kTextDestination, "%ProgramFiles%\\Caf\xc3\xa9"};
    const RecordText args = {kTextSetupArgs, "/S /v\"/qn\""};
    const struct {
        const char* what;
        std::vector<PayloadPart> parts;
        std::vector<RecordText> texts;
        std::vector<std::string> shown; // the lines after "progress bar: yes"
    } cases[] = {
        {"none", none, {}, {}},
        {"destination", none, {dest}, {"destination: %ProgramFiles%\\Caf\xc3\xa9"}},
        {"setup arguments", none, {args}, {"setup arguments: /S /v\"/qn\""}},
        {"both, args first", none, {args, dest},
         {"destination: %ProgramFiles%\\Caf\xc3\xa9", "setup arguments: /S /v\"/qn\""}},
        {"set", two, {dest},
         {"later cabinets in the record: 2", "destination: %ProgramFiles%\\Caf\xc3\xa9"}},
        {"set without texts", two, {}, {"later cabinets in the record: 2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Written w = WriteAndDescribe(cab, c.parts, c.texts);
        EXPECT_EQ(w.problems, "");
        ASSERT_GE(w.lines.size(), 2u);
        EXPECT_EQ(w.lines[1], "progress bar: yes");
        EXPECT_EQ(std::vector<std::string>(w.lines.begin() + 2, w.lines.end()), c.shown);
        PayloadRecord read;
        ASSERT_TRUE(ReadPayloadRecord(w.bytes.data(), w.bytes.size(), &read));
        EXPECT_EQ(read.flags, c.texts.empty() ? kRecordProgressBar
                                              : kRecordProgressBar | kRecordTexts);
        EXPECT_EQ(read.laterParts, c.parts.size());
        for (size_t i = 0; i < c.parts.size(); ++i)
            EXPECT_EQ(PayloadPartAt(read, static_cast<uint32_t>(i)).size, c.parts[i].size);
        // Without texts, the record is the one of before: no count without parts.
        if (c.texts.empty()) {
            EXPECT_EQ(w.bytes.size(), PayloadRecordSize(static_cast<uint32_t>(c.parts.size())));
        }
        for (const RecordText& t : c.texts) {
            const char* text = nullptr;
            size_t length = 0;
            ASSERT_TRUE(PayloadRecordText(read, t.tag, &text, &length));
            EXPECT_EQ(std::string(text, length), t.text);
        }
    }
    // The order of the options does not change the bytes.
    EXPECT_EQ(WriteAndDescribe(cab, two, {dest, args}).bytes,
              WriteAndDescribe(cab, two, {args, dest}).bytes);
}

TEST(RecordText, CheckRefusesWhatPackingWould) {
    // A record made elsewhere: its texts are shown escaped, and --check says what is wrong.
    const Bytes cab(64, 1);
    const Written w = WriteAndDescribe(
        cab, {}, {{kTextDestination, "C:\\\x1b[2J"}, {kTextSetupArgs, std::string(1, '\xff')}});
    EXPECT_EQ(w.lines.back(), "setup arguments: \\xff");
    EXPECT_EQ(w.lines[w.lines.size() - 2], "destination: C:\\\\x1b[2J");
    EXPECT_EQ(w.problems,
              "payload record: its destination \"C:\\\\x1b[2J\" holds a control character\n"
              "payload record: its setup arguments \"\\xff\" is not valid UTF-8\n");
}
