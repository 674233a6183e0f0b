// The default stub's lookup: beside the program, else in the installed layout.
#include <gtest/gtest.h>
#include <set>

#include "cli/stub_lookup.h"
#include "util/paths.h"

TEST(StubLookup, BesideFirstThenInstalled) {
    const std::string bin = "/opt/o/bin/sfxpack";
    const std::string x86Beside = "/opt/o/bin/OrvantaSfx.exe";
    const std::string x64Beside = "/opt/o/bin/x64/OrvantaSfx.exe";
    const std::string x86Shared = "/opt/o/bin/../share/orvanta/OrvantaSfx.exe";
    const std::string x64Shared = "/opt/o/bin/../share/orvanta/x64/OrvantaSfx.exe";
    const struct {
        const char* what;
        std::string program, arch;
        std::set<std::string> present;
        std::string expected;
    } cases[] = {
        {"build tree", bin, "", {x86Beside, x86Shared}, x86Beside},
        {"installed", bin, "", {x86Shared, x64Shared}, x86Shared},
        {"installed x86 named", bin, "x86", {x86Shared}, x86Shared},
        {"installed x64", bin, "x64", {x86Shared, x64Shared}, x64Shared},
        {"x64 beside wins", bin, "x64", {x64Beside, x64Shared}, x64Beside},
        {"only the other arch", bin, "x64", {x86Beside, x86Shared}, x64Beside},
        {"none: beside named", bin, "", {}, x86Beside},
        {"run by bare name",
         "sfxpack",
         "",
         {"../share/orvanta/OrvantaSfx.exe"},
         "../share/orvanta/OrvantaSfx.exe"},
        {"bare name, none", "sfxpack", "x64", {}, "x64/OrvantaSfx.exe"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        const std::string found = FindStub(c.program, c.arch, [&](const std::string& p) {
            asked.push_back(p);
            return c.present.count(p) != 0;
        });
        EXPECT_EQ(found, c.expected) << c.what;
        ASSERT_FALSE(asked.empty()) << c.what;
        EXPECT_EQ(asked[0], FolderOf(c.program) + StubName(c.arch)) << c.what << ": beside first";
    }
}

TEST(StubLookup, ProgramPathIsThisTest) {
    // /proc/self/exe names the running binary, whatever argv[0] says.
    const std::string self = ProgramPath("not-this");
    EXPECT_NE(self, "not-this");
    EXPECT_EQ(self.substr(self.rfind('/') + 1), "sfxpack_tests");
}
