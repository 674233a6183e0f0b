// Unit tests of the readers and rules on hand-made inputs; the command line, libgcab output
// and extraction under Wine are covered by test_sfxpack.py.
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab/cab_builder.h"
#include "cab/cab_reader.h"
#include "fakes.h"
#include "le.h"
#include "name_cases.h"
#include "names.h"
#include "payload/payload_rules.h"
#include "pe/pe_image.h"
#include "util/hex.h"
#include "util/numbers.h"
#include "util/paths.h"

using Mutation = std::function<void(Bytes*)>;

static std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

// Problems found in image b: as a stub to pack, or as an installer when asInstaller.
static std::string PeProblems(const Bytes& b, bool asInstaller, PeLayout* pe, CabinetPlace* place) {
    Problems problems;
    if (ReadPeLayout(MemorySource(b.data(), b.size()), pe, &problems)) {
        if (asInstaller)
            LocateCabinet(*pe, b.size(), place, &problems);
        else
            CheckStubLayout(*pe, b.size(), &problems);
    }
    return ErrorText(problems);
}

TEST(PeLayout, Problems) {
    const struct {
        const char* what;
        bool asInstaller;
        Mutation mutate;
        const char* expected; // "" when fine
    } cases[] = {
        {"stub", false, [](Bytes*) {}, ""},
        {"installer", true, [](Bytes* b) { b->resize(0x1700); }, ""},
        {"e_lfanew outside", false, [](Bytes* b) { Put32(b, kDosNtOffset, 0x100000); },
         "outside the file"},
        {"no PE", false, [](Bytes* b) { (*b)[kFakeNtOffset] = 'N'; }, "no PE signature"},
        {"no sections", false, [](Bytes* b) { Put16(b, kFakeCoff + kCoffSectionCount, 0); },
         "no sections"},
        {"table outside", false, [](Bytes* b) { Put16(b, kFakeCoff + kCoffSectionCount, 900); },
         "section table lies"},
        {"past 4 GiB", false,
         [](Bytes* b) { Put32(b, FakeSection(0) + kSectionRawPointer, 0xfffff000); }, "4 GiB"},
        {"truncated stub", false, [](Bytes* b) { b->resize(0x1500); }, "stub is truncated"},
        {"unstripped", false, [](Bytes* b) { Put32(b, kFakeCoff + kCoffSymbolTable, 0x1600); },
         "not stripped"},
        {"certificate in sections", true,
         [](Bytes* b) {
             const size_t security = FakeDirectory(kSecurityDirectory);
             b->resize(0x1700), Put32(b, security + kDirectoryRva, 0x1000);
             Put32(b, security + kDirectorySize, 0x700);
         },
         "lies before"},
        {"no payload", true, [](Bytes*) {}, "no payload"},
    };
    for (const auto& c : cases) {
        // The first section ends last, so the overlay is not simply the last section's end.
        Bytes b = MakePe({{0x400, 0x1200}, {0x1400, 0x100}}, 0x1600);
        c.mutate(&b);
        PeLayout pe;
        CabinetPlace place;
        const std::string problems = PeProblems(b, c.asInstaller, &pe, &place);
        if (*c.expected) {
            EXPECT_NE(problems.find(c.expected), std::string::npos) << c.what << ": " << problems;
            continue;
        }
        EXPECT_EQ(problems, "") << c.what;
        EXPECT_EQ(pe.overlayOffset, 0x1600u) << c.what;
    }
}

static Bytes BaseCab() {
    return MakeCab({{"Setup.exe", "hello", 0x21}, {"sub\\caf\xc3\xa9.txt", "world!", 0xa0}});
}

// The offset of the data block of a MakeCab cabinet.
static size_t DataBlock(const Bytes& b) {
    return ReadLe32(&b[kFakeFolder + kCffoldDataOffset]);
}

TEST(CabReader, TableProblems) {
    const struct {
        const char* what;
        Mutation mutate;
        const char* expected; // "" when fine
    } cases[] = {
        {"good", [](Bytes*) {}, ""},
        {"signature", [](Bytes* b) { (*b)[kCfheadSignature] = 'X'; }, "no MSCF"},
        {"version", [](Bytes* b) { (*b)[kCfheadMajorVersion] = 2; }, "unsupported cabinet version"},
        {"size too small", [](Bytes* b) { Put32(b, kCfheadCabinetSize, 20); },
         "smaller than the header"},
        {"size too large", [](Bytes* b) { Put32(b, kCfheadCabinetSize, uint32_t(b->size() + 1)); },
         "truncated"},
        {"no folder", [](Bytes* b) { Put16(b, kCfheadFolderCount, 0); }, "no folder"},
        {"no file", [](Bytes* b) { Put16(b, kCfheadFileCount, 0); }, "no file"},
        {"files overlap", [](Bytes* b) { Put32(b, kCfheadFilesOffset, 40); }, "overlaps"},
        {"files outside", [](Bytes* b) { Put32(b, kCfheadFilesOffset, 0x10000); },
         "file table lies outside"},
        {"name cut",
         [](Bytes* b) {
             b->resize(kFakeFiles + 20), Put32(b, kCfheadCabinetSize, kFakeFiles + 20);
         },
         "unterminated"},
        {"folder index", [](Bytes* b) { Put16(b, kFakeFiles + kCffileFolderIndex, 5); },
         "does not exist"},
        {"continued, no flag",
         [](Bytes* b) { Put16(b, kFakeFiles + kCffileFolderIndex, kFolderContinuedFromPrev); },
         "does not exist"},
        {"compression", [](Bytes* b) { Put16(b, kFakeFolder + kCffoldCompression, 7); },
         "unknown compression"},
        {"block outside", [](Bytes* b) { Put32(b, kFakeFolder + kCffoldDataOffset, 0x10000); },
         "lies outside"},
        {"block count", [](Bytes* b) { Put16(b, kFakeFolder + kCffoldBlockCount, 65535); },
         "can hold"},
        {"block too large",
         [](Bytes* b) { Put16(b, DataBlock(*b) + kCfdataUncompressedSize, 40000); },
         "out of bounds"},
        {"block data outside",
         [](Bytes* b) { Put16(b, DataBlock(*b) + kCfdataCompressedSize, 12); }, "out of bounds"},
        {"data past folder", [](Bytes* b) { Put32(b, kFakeFiles + kCffileUncompressedSize, 100); },
         "data past the end"},
        {"blocks in tables",
         [](Bytes* b) { Put32(b, kFakeFolder + kCffoldDataOffset, kFakeFiles); },
         "overlap the cabinet's"},
        {"folders share blocks",
         [](Bytes* b) {
             // A second folder entry, the same as the first: both claim the one block.
             const size_t second = kFakeFolder + kCffoldSizeof;
             b->insert(b->begin() + second, b->begin() + kFakeFolder, b->begin() + second);
             Put16(b, kCfheadFolderCount, 2),
                 Put32(b, kCfheadFilesOffset, kFakeFiles + kCffoldSizeof);
             Put32(b, kCfheadCabinetSize, uint32_t(b->size()));
             const uint32_t block = static_cast<uint32_t>(DataBlock(*b) + kCffoldSizeof);
             Put32(b, kFakeFolder + kCffoldDataOffset, block);
             Put32(b, second + kCffoldDataOffset, block);
         },
         "overlap those of another folder"},
    };
    for (const auto& c : cases) {
        Bytes b = BaseCab();
        c.mutate(&b);
        CabInfo info;
        Problems problems;
        ReadCabinet(MemorySource(b.data(), b.size()), &info, &problems);
        if (*c.expected)
            EXPECT_NE(ErrorText(problems).find(c.expected), std::string::npos)
                << c.what << ": " << ErrorText(problems);
        else
            EXPECT_EQ(ErrorText(problems), "");
    }
}

TEST(CabReader, ReserveAreasAndNextCabinet) {
    Bytes b = BaseCab();
    // 2 header reserve bytes, 4 per folder, then the next cabinet's names.
    const char extra[] = "\x02\x00\x04\x00\xaa\xbb"
                         "disk2.cab\0Disk 2";
    const uint32_t n = sizeof(extra) + 4; // with its NUL, and the folder reserve
    Put32(&b, kFakeFolder + kCffoldDataOffset, DataBlock(b) + n);
    Put32(&b, kCfheadFilesOffset, kFakeFiles + n);
    Put16(&b, kCfheadFlags, kCabReservePresent | kCabNextCabinet);
    b.insert(b.begin() + kFakeFiles, 4, 0);
    b.insert(b.begin() + kCfheadSizeof, extra, extra + sizeof(extra));
    Put32(&b, kCfheadCabinetSize, static_cast<uint32_t>(b.size()));
    CabInfo info;
    Problems problems;
    ASSERT_TRUE(ReadCabinet(MemorySource(b.data(), b.size()), &info, &problems));
    EXPECT_EQ(ErrorText(problems), "");
    EXPECT_EQ(info.nextCabinet + "|" + info.nextDisk, "disk2.cab|Disk 2");
    ASSERT_EQ(info.files.size(), 2u);
    EXPECT_EQ(info.files[1].name, "sub\\caf\xc3\xa9.txt");
    EXPECT_EQ(info.files[1].folderOffset, 5u);
    Problems findings;
    CheckPayload(info, &findings);
    EXPECT_EQ(Joined(findings.errors), "");
    EXPECT_NE(Joined(findings.warnings).find("\"disk2.cab\": the stub looks for it beside the"),
              std::string::npos);
}

TEST(Names, OneRuleForStubAndSfxpack) {
    for (const NameCase& c : NameCases()) {
        EXPECT_EQ(IsSafeArchivedName(c.name.c_str()), c.safe) << c.name;
        EXPECT_EQ(IsExactWindowsName(c.name.c_str()), c.exact) << c.name;
        Problems refused;
        EXPECT_EQ(CheckName(c.name, c.attribs, &refused), !*c.refusal) << c.name;
        const std::string problem = ErrorText(refused);
        EXPECT_EQ(refused.errors.size(), *c.refusal ? 1u : 0u) << c.name << ": " << problem;
        EXPECT_NE(problem.find(c.refusal), std::string::npos) << c.name << ": " << problem;
    }
    EXPECT_FALSE(IsSafeArchivedName(nullptr));
    Problems notUtf8;
    EXPECT_FALSE(CheckName("caf\xe9.txt", 0xa0, &notUtf8));
    EXPECT_NE(ErrorText(notUtf8).find("not valid UTF-8"), std::string::npos);
    EXPECT_EQ(QuoteName("a\n\"b\x1b[2J\xc2\x9b\xff\xc3\xa9"),
              "\"a\\x0a\\x22b\\x1b[2J\\xc2\\x9b\\xff\xc3\xa9\"");
}

TEST(Names, ClashesOnWindows) {
    const struct {
        const char *a, *b;
        bool utf8;
        const char* expected; // "" when both can be packed
    } cases[] = {
        {"readme", "README", false, "one file on Windows"},
        {"a/b.txt", "a\\B.txt", false, "one file on Windows"},
        {"x", "x", false, "appears twice"},
        {"caf\xc3\xa9", "CAF\xc3\x89", true, "one file"},           // Latin-1
        {"\xd0\xb4\xd1\x91", "\xd0\x94\xd0\x81", true, "one file"}, // Cyrillic
        {"\xc3\xbf", "\xc5\xb8", true, "one file"},                 // y with diaeresis
        {"doc", "DOC\\a.txt", false, "needs a folder"},
        {"caf\xe9", "CAF\xc9", false, ""},  // ANSI: the code page is the user's
        {"\xcf\x82", "\xce\xa3", true, ""}, // final sigma: left alone
        {"a.txt", "a.txt.bak", false, ""},
    };
    for (const auto& c : cases) {
        Problems clashes;
        CheckNameClashes({{c.a, c.utf8}, {c.b, c.utf8}}, &clashes);
        const std::string errors = ErrorText(clashes);
        EXPECT_EQ(errors.empty(), !*c.expected) << c.a << " " << c.b << ": " << errors;
        EXPECT_NE(errors.find(c.expected), std::string::npos) << c.a << " " << c.b;
    }
}

TEST(Names, Utf8Validation) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {{"\xc3\xa9", true},
                 {"\xe2\x82\xac", true},
                 {"\xf0\x9f\x98\x80", true},
                 {"\xc3", false},
                 {"\xc0\xaf", false},
                 {"\xe0\x80\xaf", false},
                 {"\xed\xa0\x80", false},
                 {"\x80", false},
                 {"\xff", false},
                 {"\xf4\x90\x80\x80", false}};
    for (const auto& c : cases)
        EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

TEST(Payload, StartedProgramAtTheTopOnly) {
    const std::pair<const char*, size_t> cases[] = {
        {"SETUP.EXE", 0}, {"StdSetup.exe", 0}, {"sub\\Setup.exe", 1}, {"Setup.exe.txt", 1}};
    for (const auto& c : cases) {
        CabInfo info;
        info.files.resize(1);
        info.files[0].name = c.first;
        Problems findings;
        CheckPayload(info, &findings);
        EXPECT_EQ(findings.warnings.size(), c.second) << c.first;
    }
}

TEST(Times, DosFieldsAreClampedAndRoundedDown) {
    constexpr uint16_t kFirstDate = 1 << 5 | 1, kLastDate = 127 << 9 | 12 << 5 | 31;
    constexpr uint16_t kLastTime = 23 << 11 | 59 << 5 | 29;
    const struct {
        int64_t t;
        uint16_t date, time;
    } cases[] = {
        {1719837297, 44 << 9 | 7 << 5 | 1, 12 << 11 | 34 << 5 | 28}, // 2024-07-01 12:34:57
        {315532800, kFirstDate, 0},                                  // 1980-01-01
        {315532799, kFirstDate, 0},
        {-5000000000LL, kFirstDate, 0},
        {4354819199LL, kLastDate, kLastTime}, // 2107-12-31 23:59:59
        {7258118400LL, kLastDate, kLastTime}, // 2200
        {INT64_MAX, kLastDate, kLastTime},
    };
    for (const auto& c : cases) {
        const DosDateTime d = ToDosDateTime(c.t, true);
        EXPECT_EQ(d.date, c.date) << c.t;
        EXPECT_EQ(d.time, c.time) << c.t;
    }
}

TEST(Numbers, ParseUnsigned) {
    const struct {
        const char* text;
        uint64_t max;
        bool ok;
        uint64_t value;
    } cases[] = {
        {"9223372036854775807", INT64_MAX, true, INT64_MAX},
        {"9223372036854775808", INT64_MAX, false, 0},
        {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", UINT64_MAX, false, 0},
        {"0", 0, true, 0},
        {"7", 5, false, 0}, // a digit above max
        {"5", 5, true, 5},
        {"0042", 100, true, 42},
        {"", INT64_MAX, false, 0},
        {"-1", INT64_MAX, false, 0},
        {"12x", INT64_MAX, false, 0},
        {" 1", INT64_MAX, false, 0},
        {"1e9", INT64_MAX, false, 0},
        {"+3", INT64_MAX, false, 0},
    };
    for (const auto& c : cases) {
        uint64_t v = 99;
        EXPECT_EQ(ParseUnsigned(c.text, c.max, &v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 99) << c.text;
    }
    uint64_t v = 0;
    EXPECT_FALSE(ParseUnsigned(nullptr, 1, &v));
}

TEST(Paths, BaseNameAndFolder) {
    const struct {
        const char* path;
        const char* base;
        const char* folder;
    } cases[] = {
        {"inst.exe", "inst.exe", ""},           {"out/inst.exe", "inst.exe", "out/"},
        {"/a/b/inst.exe", "inst.exe", "/a/b/"}, {"dir/", "", "dir/"},
        {"/inst.exe", "inst.exe", "/"},         {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BaseName(c.path), c.base) << c.path;
        EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(FolderOf(c.path) + BaseName(c.path), c.path) << c.path;
    }
}

TEST(Hex, Formats) {
    EXPECT_EQ(Hex(0), "0x0");
    EXPECT_EQ(Hex(0x1ac00), "0x1ac00");
    EXPECT_EQ(Hex(UINT64_MAX), "0xffffffffffffffff");
    EXPECT_EQ(HexDigits(0x3d691ee8, 8), "0x3d691ee8");
    EXPECT_EQ(HexDigits(0x1f, 8), "0x0000001f");
    EXPECT_EQ(HexDigits(0xbeef, 4), "0xbeef");
    EXPECT_EQ(HexDigits(0x12345, 4), "0x12345"); // never cut
    EXPECT_EQ(HexByte(0x0a), "0a");
    EXPECT_EQ(HexByte(0xff), "ff");
}

TEST(FileIo, ReadAtStaysInsideItsWindow) {
    const char data[] = "0123456789";
    const Source window = SubSource(MemorySource(data, 10), 4, 100); // clipped to 6 bytes
    char buf[8] = {};
    EXPECT_TRUE(ReadAt(window, 0, buf, 6));
    EXPECT_EQ(std::string(buf, 6), "456789");
    EXPECT_FALSE(ReadAt(window, 1, buf, 6));
    EXPECT_FALSE(ReadAt(window, UINT64_MAX, buf, 2));
}

// Runs ScanFolder on a tree made by the shell commands in setup, in a fresh folder.
static bool Scan(const std::string& setup, std::vector<SourceFile>* files, std::string* problems) {
    char tmpl[] = "/tmp/sfxpack-scan.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    EXPECT_EQ(system(("cd " + dir + " && " + setup).c_str()), 0) << setup;
    Problems found;
    const bool ok = ScanFolder(dir, files, &found);
    *problems = ErrorText(found);
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
    return ok;
}

TEST(FolderScan, SortsByArchivedName) {
    std::vector<SourceFile> files;
    std::string problems;
    ASSERT_TRUE(
        Scan("mkdir a && touch a.txt a-b a/b.txt Setup.exe ro && chmod 444 ro", &files, &problems))
        << problems;
    std::string names;
    for (const SourceFile& f : files)
        names += f.name + (f.readOnly ? "(ro) " : " ");
    EXPECT_EQ(names, "Setup.exe a-b a.txt a\\b.txt ro(ro) ");
}

TEST(FolderScan, Refusals) {
    const struct {
        const char* setup;
        const char* expected;
    } cases[] = {
        {"touch 'a\\b'", "folder separator"},
        {"touch \"$(printf 'caf\\351')\"", "not valid UTF-8"},
        {"d=$(printf '%0200d' 0) && mkdir $d && touch $d/$(printf '%055d' 0)", "over the 255"},
        {"touch readme README", "one file on Windows"},
        {"mkdir d && touch d/f && ln -s d l1", "the same folder as"},
        {"touch ok && mkfifo f", "neither a regular file"},
        {"touch ok && ln -s . loop", "loops back"},
        {"true", "no files"},
    };
    for (const auto& c : cases) {
        std::vector<SourceFile> files;
        std::string problems;
        EXPECT_FALSE(Scan(c.setup, &files, &problems)) << c.setup;
        EXPECT_NE(problems.find(c.expected), std::string::npos) << c.setup << ": " << problems;
    }
}
