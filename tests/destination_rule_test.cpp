// The folder proposed before the user chooses: the working folder's, unless that is the
// system's or too long.
#include <gtest/gtest.h>

#include <string>

#include "destination_rule.h"

namespace {

TEST(DestinationRuleTest, SystemOrOverlongWorkingFolderIsNotProposed) {
    const std::wstring deep = L"C:\\" + std::wstring(250, L'd');
    const struct {
        const char* what;
        std::wstring working, program;
        const wchar_t* expected;
    } cases[] = {
        {"a working folder", L"C:\\Users\\ann\\Downloads", L"D:\\dl",
         L"C:\\Users\\ann\\Downloads\\Extract"},
        {"a drive root", L"T:\\", L"D:\\dl", L"T:\\\\Extract"},
        {"the system folder", L"C:\\Windows\\System32", L"D:\\dl", L"D:\\dl\\Extract"},
        {"the Windows folder, other case", L"c:\\WINDOWS", L"D:\\dl", L"D:\\dl\\Extract"},
        {"a name that only starts alike", L"C:\\WindowsApps", L"D:\\dl",
         L"C:\\WindowsApps\\Extract"},
        {"too long for \\Extract", deep, L"D:\\dl", L"D:\\dl\\Extract"},
        {"the program in the system too", L"C:\\Windows\\System32", L"C:\\Windows\\Temp",
         L"C:\\Users\\ann\\Extract"},
        {"no working folder", L"", L"D:\\dl", L"D:\\dl\\Extract"},
    };
    for (const auto& c : cases) {
        wchar_t out[300] = L"";
        ASSERT_TRUE(ProposeDestination(c.working.c_str(), L"C:\\Windows", c.program.c_str(),
                                       L"C:\\Users\\ann", 260, out, 300))
            << c.what;
        EXPECT_EQ(std::wstring(out), c.expected) << c.what;
    }
}

TEST(DestinationRuleTest, InsideIsDecidedOnWholeComponents) {
    const struct {
        const wchar_t* path;
        const wchar_t* folder;
        bool inside;
    } cases[] = {
        {L"C:\\Windows", L"C:\\Windows", true},
        {L"C:\\Windows\\x", L"C:\\windows", true},
        {L"C:\\Windowsx", L"C:\\Windows", false},
        {L"C:\\Win", L"C:\\Windows", false},
        {L"C:\\Windows\\x", L"C:\\Windows\\", true},
        {L"D:\\Windows", L"C:\\Windows", false},
        {L"C:\\x", L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside)
            << std::string(c.path, c.path + wcslen(c.path));
}

} // namespace
