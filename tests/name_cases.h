// Archived names and what each side does with them: the rule itself (names_test), the stub
// extracting them (driver_test) and sfxpack refusing to pack them (sfxpack_test). One table,
// so that the stub and the packer cannot drift apart on a name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "names.h"

struct NameCase {
    std::string name;
    uint16_t attribs;    // 0x20, or 0xA0 for a name flagged UTF-8
    bool safe;           // IsSafeArchivedName: the stub may write it, trimmed
    bool exact;          // IsExactWindowsName: Windows stores it as given
    const char* landsAs; // where the stub writes it under its destination (UTF-8); null: refused
    const char* refusal; // in sfxpack's CheckName; "" when it packs the name
};

inline const std::vector<NameCase>& NameCases() {
    static const std::string longest(kMaxNameBytes, 'n');
    static const std::vector<NameCase> cases = {
        // Ordinary names, some only looking odd.
        {"readme.txt", 0x20, true, true, "readme.txt", ""},
        {"a\\b/c.txt", 0x20, true, true, "a\\b\\c.txt", ""},
        {"file.name.with.dots", 0x20, true, true, "file.name.with.dots", ""},
        {".hidden", 0x20, true, true, ".hidden", ""},
        {"..a.txt", 0x20, true, true, "..a.txt", ""},
        {" lead.txt", 0x20, true, true, " lead.txt", ""},
        {"caf\xe9.txt", 0x20, true, true, "caf\xc3\xa9.txt", ""}, // stored in code page 1252
        {"CONSOLE", 0x20, true, true, "CONSOLE", ""},
        {"COM10.txt", 0x20, true, true, "COM10.txt", ""},
        {"nul_x", 0x20, true, true, "nul_x", ""},
        {"COM0", 0x20, true, true, "COM0", ""},
        {longest, 0x20, true, true, longest.c_str(), ""},
        {longest + "n", 0x20, true, true, nullptr, "256 bytes, over the 255"},
        // Trailing dots and spaces: the stub drops them as Windows would; sfxpack refuses.
        {"Setup.exe.", 0x20, true, false, "Setup.exe", "\"Setup.exe.\" ends in a dot or space"},
        {"dir \\a.txt", 0x20, true, false, "dir\\a.txt", "\"dir \" ends in a dot or space"},
        {"dir. \\x.txt. ", 0x20, true, false, "dir\\x.txt", "ends in a dot or space"},
        {"a..\\b", 0x20, true, false, "a\\b", "ends in a dot"},
        // Leaving the destination.
        {"", 0x20, false, false, nullptr, "empty name"},
        {"..", 0x20, false, false, nullptr, "climbs out"},
        {"..\\evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {"a\\..\\..\\evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {"a/../../evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {"a\\..", 0x20, false, false, nullptr, "climbs out"},
        {".. \\evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {"...\\evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {". .\\evil.txt", 0x20, false, false, nullptr, "climbs out"},
        {"a\\.. \\x", 0x20, false, false, nullptr, "climbs out"},
        {"\\evil.txt", 0x20, false, false, nullptr, "absolute path"},
        {"/evil.txt", 0x20, false, false, nullptr, "absolute path"},
        {"\\ot\\evil.txt", 0x20, false, false, nullptr, "absolute path"},
        {"\\\\localhost\\C$\\ot\\evil.txt", 0x20, false, false, nullptr, "absolute path"},
        {"//server/share/evil.txt", 0x20, false, false, nullptr, "absolute path"},
        {"C:\\evil.txt", 0x20, false, false, nullptr, "drive or a stream"},
        {"c:evil.txt", 0x20, false, false, nullptr, "drive or a stream"},
        {"ok.txt:stream", 0x20, false, false, nullptr, "drive or a stream"},
        {"a\\b:c\\d.txt", 0x20, false, false, nullptr, "drive or a stream"},
        // Components Windows cannot store.
        {".\\a.txt", 0x20, false, false, nullptr, "\".\" names no file"},
        {"sub\\.\\a.txt", 0x20, false, false, nullptr, "\".\" names no file"},
        {"a\\ \\b", 0x20, false, false, nullptr, "names no file"},
        {"a\\", 0x20, false, false, nullptr, "empty component"},
        {"a\\\\b", 0x20, false, false, nullptr, "empty component"},
        {"a\x01", 0x20, false, false, nullptr, "control character 0x01"},
        {"a\nb", 0x20, false, false, nullptr, "control character 0x0a"},
        {"\x1f", 0x20, false, false, nullptr, "control character 0x1f"},
        {"a<b", 0x20, false, false, nullptr, "'<' is not allowed"},
        {"a>b", 0x20, false, false, nullptr, "'>' is not allowed"},
        {"a\"b", 0x20, false, false, nullptr, "'\"' is not allowed"},
        {"a|b", 0x20, false, false, nullptr, "'|' is not allowed"},
        {"a?b", 0x20, false, false, nullptr, "'?' is not allowed"},
        {"a*b", 0x20, false, false, nullptr, "'*' is not allowed"},
        // Devices, with any extension, in any folder.
        {"nul", 0x20, false, false, nullptr, "\"nul\" names a device"},
        {"NUL.txt", 0x20, false, false, nullptr, "device"},
        {"sub\\con", 0x20, false, false, nullptr, "\"con\" names a device"},
        {"Aux .log", 0x20, false, false, nullptr, "device"},
        {"a\\Con .txt\\b", 0x20, false, false, nullptr, "device"},
        {"com1.tar.gz", 0x20, false, false, nullptr, "device"},
        {"lpt9.", 0x20, false, false, nullptr, "device"},
        {"x\\aux\\y.txt", 0x20, false, false, nullptr, "\"aux\" names a device"},
        {"COM\xb9", 0x20, false, false, nullptr, "device"},
        // The rule reads bytes as UTF-8 too; in code page 1252 this one is "COM\u00c2\u00b9.txt".
        {"COM\xc2\xb9.txt", 0x20, false, false, "COM\xc3\x82\xc2\xb9.txt", "device"},
        {"lpt\xb3", 0x20, false, false, nullptr, "device"},
        {"CONOUT$", 0x20, false, false, nullptr, "device"},
        // Flagged UTF-8 without being UTF-8: the rule passes them, the encoding does not.
        {"caf\xc3\x28.txt", 0xA0, true, true, nullptr, "not valid UTF-8"},
        {"\xc0\xaf.txt", 0xA0, true, true, nullptr, "not valid UTF-8"}, // an overlong '/'
    };
    return cases;
}
