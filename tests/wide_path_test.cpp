// Text at the Win32 edge: archived names decoded once, exactly or not at all, and paths given
// the long form only when they need it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "wide_path.h"

TEST(WidePathTest, ArchivedNamesDecodeExactlyOrNotAtAll) {
    struct Case {
        const char* bytes;
        bool utf8;
        UINT codePage;
        DecodeResult result;
        const char* decoded;
    } cases[] = {
        // Shift-JIS: the trail byte of these characters is 0x5C, which is not a separator.
        {"\x95\x5c.txt", false, 932, kDecoded, "\xe8\xa1\xa8.txt"},
        {"\x83\x5c\x83\x74\x83\x67\\readme.txt", false, 932, kDecoded,
         "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\\readme.txt"},
        {"\x81", false, 932, kBadEncoding, nullptr}, // a lead byte with nothing after it
        {"caf\xe9.txt", false, 1252, kDecoded, "caf\xc3\xa9.txt"},
        {"\xe8\xa1\xa8.txt", true, 1252, kDecoded, "\xe8\xa1\xa8.txt"},
        {"caf\xc3\x28.txt", true, 1252, kBadEncoding, nullptr},
        {"\xc0\xaf.txt", true, 932, kBadEncoding, nullptr},     // overlong '/'
        {"\xed\xa0\x80.txt", true, 932, kBadEncoding, nullptr}, // a surrogate
        // A system whose ANSI code page is UTF-8.
        {"caf\xc3\xa9.txt", false, CP_UTF8, kDecoded, "caf\xc3\xa9.txt"},
        {"caf\xe9.txt", false, CP_UTF8, kBadEncoding, nullptr},
    };
    for (const Case& c : cases) {
        char* out = reinterpret_cast<char*>(1); // sentinel: always replaced
        EXPECT_EQ(DecodeArchivedName(c.bytes, c.utf8, c.codePage, &out), c.result) << c.bytes;
        if (c.decoded)
            EXPECT_STREQ(out, c.decoded) << c.bytes;
        else
            EXPECT_EQ(out, nullptr) << c.bytes;
        free(out);
    }
}

TEST(WidePathTest, OnlyLongPathsTakeTheLongForm) {
    const std::string name(150, 'n');
    struct Case {
        std::string path;
        std::wstring expected;
    } cases[] = {
        {"C:\\short\\a.txt", L"C:\\short\\a.txt"},
        {"C:\\" + name + "\\" + name, L"\\\\?\\C:\\" + std::wstring(name.begin(), name.end()) +
                                          L"\\" + std::wstring(name.begin(), name.end())},
        {"\\\\srv\\share\\" + name + "\\" + name,
         L"\\\\?\\UNC\\srv\\share\\" + std::wstring(name.begin(), name.end()) + L"\\" +
             std::wstring(name.begin(), name.end())},
        {"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {"C:\\\xce\xa9mega", L"C:\\\x03a9mega"},
    };
    for (const Case& c : cases) {
        wchar_t* wide = WidePath(c.path.c_str());
        ASSERT_NE(wide, nullptr) << c.path;
        EXPECT_EQ(std::wstring(wide), c.expected) << c.path;
        free(wide);
    }
    EXPECT_EQ(WidePath("bad\xff"), nullptr);
    // A long relative path becomes absolute, since the long form has no current folder.
    wchar_t* relative = WidePath((name + "\\" + name).c_str());
    ASSERT_NE(relative, nullptr);
    EXPECT_EQ(std::wstring(relative).rfind(L"\\\\?\\", 0), 0u);
    EXPECT_EQ(std::wstring(relative).find(L":\\"), 5u);
    free(relative);
}
