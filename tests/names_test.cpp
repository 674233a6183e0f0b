// Archived-name rules and output-path composition: pure logic shared with sfxpack.
#include <gtest/gtest.h>

#include <string>

#include "names.h"

TEST(NamesTest, NamesThatLeaveTheDestinationAreRefused) {
    const char* refused[] = {
        "",
        "..\\evil.txt",
        "a\\..\\..\\evil.txt",
        "a/../../evil.txt",
        "..",
        "a\\..",
        ".. \\evil.txt",
        "...\\evil.txt",
        ". .\\evil.txt",
        "\\evil.txt",
        "/evil.txt",
        "\\\\server\\share\\evil.txt",
        "//server/share/evil.txt",
        "C:\\evil.txt",
        "c:evil.txt",
        "ok.txt:stream",
        "a\\b:c\\d.txt",
        ".\\a.txt",
        "a\\.\\b.txt",
        "a\\",
        "a\\\\b",
        "a\x01",
        "a?b",
        "nul.txt",
        "a\\Con .txt\\b",
        "COM\xb9",
    };
    for (const char* name : refused)
        EXPECT_FALSE(IsSafeArchivedName(name)) << name;
    EXPECT_FALSE(IsSafeArchivedName(nullptr));
}

TEST(NamesTest, OrdinaryNamesAreAccepted) {
    const char* accepted[] = {
        "readme.txt", "a\\b\\c.txt", "a/b/c.txt", "..a.txt", "a..\\b",     "file.name.with.dots",
        ".hidden",    "caf\xe9.txt", "CONSOLE",   "COM10",   "Setup.exe.",
    };
    for (const char* name : accepted)
        EXPECT_TRUE(IsSafeArchivedName(name)) << name;
}

TEST(NamesTest, ComposesFolderAndPath) {
    struct Case {
        const char* dest;
        const char* name;
        const char* archiveDir;
        const char* outputDir;
        const char* path;
        const char* fileName;
    } cases[] = {
        {"C:\\out\\", "a\\b\\c.txt", "a\\b\\", "C:\\out\\a\\b\\", "C:\\out\\a\\b\\c.txt", "c.txt"},
        {"C:\\out\\", "readme.txt", "", "C:\\out\\", "C:\\out\\readme.txt", "readme.txt"},
        {"C:\\out\\", "a/b/c.txt", "a\\b\\", "C:\\out\\a\\b\\", "C:\\out\\a\\b\\c.txt", "c.txt"},
        {"", "x\\y.bin", "x\\", "x\\", "x\\y.bin", "y.bin"},
    };
    for (const Case& c : cases) {
        OutputPath out;
        ASSERT_TRUE(ComposeOutputPath(c.dest, c.name, &out)) << c.name;
        EXPECT_STREQ(out.archiveDir, c.archiveDir);
        EXPECT_STREQ(out.outputDir, c.outputDir);
        EXPECT_EQ(out.outputDirLength, strlen(c.outputDir));
        EXPECT_STREQ(out.path, c.path);
        EXPECT_STREQ(out.fileName, c.fileName);
    }
}

TEST(NamesTest, PathsThatDoNotFitAreRefused) {
    OutputPath out;
    const std::string dest = "C:\\" + std::string(200, 'd') + "\\";
    const std::string fits(259 - dest.size(), 'n');
    EXPECT_TRUE(ComposeOutputPath(dest.c_str(), fits.c_str(), &out));
    EXPECT_EQ(strlen(out.path), 259u);
    const std::string tooLong = fits + "n";
    EXPECT_FALSE(ComposeOutputPath(dest.c_str(), tooLong.c_str(), &out));
    const std::string huge(300, 'h');
    EXPECT_FALSE(ComposeOutputPath("", huge.c_str(), &out));
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
        char buf[260] = "sentinel";
        ASSERT_TRUE(NormaliseDestination(c.dest, buf, sizeof(buf)));
        EXPECT_STREQ(buf, c.expected);
    }
    const std::string full(259, 'd');
    char buf[260];
    EXPECT_FALSE(NormaliseDestination(full.c_str(), buf, sizeof(buf)));
    EXPECT_TRUE(NormaliseDestination(full.substr(0, 258).c_str(), buf, sizeof(buf)));
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
