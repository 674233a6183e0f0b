// The switches an installer is started with, as CommandLineToArgvW splits them.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "command_line.h"

namespace {

// Parses a command line the way the program gets it (the program's name first).
bool Parse(const std::wstring& line, RunOptions* options) {
    int count = 0;
    wchar_t** args = CommandLineToArgvW((L"inst.exe " + line).c_str(), &count);
    const bool ok =
        ParseRunOptions(const_cast<const wchar_t* const*>(args + 1), count - 1, options);
    LocalFree(args);
    return ok;
}

std::wstring Text(const wchar_t* text) {
    return text ? text : L"(none)";
}

TEST(CommandLineTest, SwitchesAreReadOrRefused) {
    const struct {
        const wchar_t* line;
        bool ok;
        const wchar_t* seen; // flags (quiet, passive, extract-only, help), dest, log, args, refused
    } cases[] = {
        {L"/quiet", true, L"q---|(none)|(none)|(none)|(none)"},
        {L"-PASSIVE /Extract-Only", true, L"-pe-|(none)|(none)|(none)|(none)"},
        {L"/?", true, L"---h|(none)|(none)|(none)|(none)"},
        {L"/dest=C:\\a /log=x.log", true, L"----|C:\\a|x.log|(none)|(none)"},
        {L"\"/dest=C:\\a b\" /quiet", true, L"q---|C:\\a b|(none)|(none)|(none)"},
        {L"/quiet -- /S \"a b\" --", true, L"q---|(none)|(none)|/S \"a b\" --|(none)"},
        {L"--", true, L"----|(none)|(none)||(none)"},
        {L"/bogus", false, L"----|(none)|(none)|(none)|/bogus"},
        {L"/quiet=1", false, L"----|(none)|(none)|(none)|/quiet=1"},
        {L"/dest", false, L"----|(none)|(none)|(none)|/dest"},
        {L"/dest=", false, L"----|(none)|(none)|(none)|/dest="},
        {L"/quiet /quiet", false, L"q---|(none)|(none)|(none)|/quiet"},
        {L"/quiet /passive", false, L"qp--|(none)|(none)|(none)|/passive"},
        {L"/quietly", false, L"----|(none)|(none)|(none)|/quietly"},
        {L"/dest=C:\\a b", false, L"----|C:\\a|(none)|(none)|b"},
    };
    for (const auto& c : cases) {
        RunOptions options;
        EXPECT_EQ(Parse(c.line, &options), c.ok) << c.line;
        std::wstring seen;
        seen += options.quiet ? L'q' : L'-';
        seen += options.passive ? L'p' : L'-';
        seen += options.extractOnly ? L'e' : L'-';
        seen += options.help ? L'h' : L'-';
        seen += L"|" + Text(options.destination) + L"|" + Text(options.log) + L"|" +
                Text(options.setupArgs) + L"|" + Text(options.refused);
        EXPECT_EQ(seen, c.seen) << c.line;
        EXPECT_TRUE(options.given) << c.line;
        FreeRunOptions(&options);
    }
}

// Whatever the arguments after "--", the setup program splits them back as they were given.
TEST(CommandLineTest, JoinedArgumentsSplitBackAsGiven) {
    const std::vector<std::vector<std::wstring>> cases = {
        {L"/S"},
        {L"a b", L"c"},
        {L""},
        {L"say \"hi\""},
        {L"C:\\dir\\", L"x"},
        {L"trailing\\\\", L"q\\\"uote"},
        {L"tab\there", L"ünïcödé", L"日本"},
    };
    for (const auto& args : cases) {
        std::vector<const wchar_t*> raw;
        for (const std::wstring& a : args)
            raw.push_back(a.c_str());
        wchar_t* line = JoinArguments(raw.data(), static_cast<int>(raw.size()));
        ASSERT_NE(line, nullptr);
        int count = 0;
        wchar_t** back = CommandLineToArgvW((std::wstring(L"setup.exe ") + line).c_str(), &count);
        ASSERT_EQ(count, static_cast<int>(args.size()) + 1) << line;
        for (size_t i = 0; i < args.size(); ++i)
            EXPECT_EQ(std::wstring(back[i + 1]), args[i]) << line;
        LocalFree(back);
        free(line);
    }
}

} // namespace
