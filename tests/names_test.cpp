// Archived-name rules and output-path composition: pure logic shared with sfxpack.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "name_cases.h"
#include "names.h"

TEST(NamesTest, EachNameIsSafeAndExactAsItsCaseSays) {
    for (const NameCase& c : NameCases()) {
        EXPECT_EQ(IsSafeArchivedName(c.name.c_str()), c.safe) << c.name;
        EXPECT_EQ(IsExactWindowsName(c.name.c_str()), c.exact) << c.name;
    }
    EXPECT_FALSE(IsSafeArchivedName(nullptr));
}

TEST(NamesTest, ComposesFolderAndPath) {
    const std::string deep = "C:\\" + std::string(300, 'd') + "\\";
    struct Case {
        std::string dest;
        const char* name;
        std::string archiveDir, outputDir, path, fileName;
    } cases[] = {
        {"C:\\out\\", "a\\b\\c.txt", "a\\b\\", "C:\\out\\a\\b\\", "C:\\out\\a\\b\\c.txt", "c.txt"},
        {"C:\\out\\", "readme.txt", "", "C:\\out\\", "C:\\out\\readme.txt", "readme.txt"},
        {"C:\\out\\", "a/b/c.txt", "a\\b\\", "C:\\out\\a\\b\\", "C:\\out\\a\\b\\c.txt", "c.txt"},
        {"", "x\\y.bin", "x\\", "x\\", "x\\y.bin", "y.bin"},
        // Trailing dots and spaces go, as Windows drops them from plain paths.
        {"C:\\o\\", "dir. \\Setup.exe.", "dir\\", "C:\\o\\dir\\", "C:\\o\\dir\\Setup.exe",
         "Setup.exe"},
        {"C:\\o\\", "a .\\.b . .", "a\\", "C:\\o\\a\\", "C:\\o\\a\\.b", ".b"},
        // UTF-8: 0x5C never hides in a character, and length is no limit.
        {"C:\\\xce\xa9\\", "\xe8\xa1\xa8\\\xe3\x82\xbd.txt", "\xe8\xa1\xa8\\",
         "C:\\\xce\xa9\\\xe8\xa1\xa8\\", "C:\\\xce\xa9\\\xe8\xa1\xa8\\\xe3\x82\xbd.txt",
         "\xe3\x82\xbd.txt"},
        {deep, "n.txt", "", deep, deep + "n.txt", "n.txt"},
    };
    for (const Case& c : cases) {
        OutputPath out = {};
        ASSERT_EQ(ComposeOutputPath(c.dest.c_str(), c.name, &out), kComposed) << c.name;
        const std::string path = out.path;
        EXPECT_EQ(path, c.path);
        EXPECT_EQ(path.substr(0, out.outputDirLength), c.outputDir);
        EXPECT_EQ(path.substr(out.archiveStart, out.outputDirLength - out.archiveStart),
                  c.archiveDir);
        EXPECT_EQ(path.substr(out.outputDirLength), c.fileName);
        FreeOutputPath(&out);
        EXPECT_EQ(out.path, nullptr);
    }
    OutputPath out = {reinterpret_cast<char*>(1), 7, 7}; // sentinel: cleared on refusal
    EXPECT_EQ(ComposeOutputPath("C:\\o\\", "..\\x", &out), kUnsafeName);
    EXPECT_EQ(out.path, nullptr);
}

TEST(NamesTest, DestinationGetsOneTrailingBackslash) {
    struct Case {
        const char* dest;
        const char* expected;
    } cases[] = {{"C:\\out", "C:\\out\\"},
                 {"C:\\out\\", "C:\\out\\"},
                 {"C:\\", "C:\\"},
                 {"", ""},
                 {nullptr, ""}};
    for (const Case& c : cases) {
        char* buf = NormaliseDestination(c.dest);
        ASSERT_NE(buf, nullptr);
        EXPECT_STREQ(buf, c.expected);
        free(buf);
    }
    const std::string deep(1000, 'd');
    char* buf = NormaliseDestination(deep.c_str());
    EXPECT_EQ(std::string(buf), deep + "\\");
    free(buf);
}

TEST(NamesTest, BaseNameFollowsEitherSeparator) {
    struct Case {
        const char* name;
        const char* base;
    } cases[] = {{"a\\b\\c.txt", "c.txt"},     {"a/b.txt", "b.txt"}, {"plain", "plain"},
                 {"..\\evil.txt", "evil.txt"}, {"dir\\", ""},        {"", ""}};
    for (const Case& c : cases)
        EXPECT_STREQ(ArchivedBaseName(c.name), c.base) << c.name;
}
