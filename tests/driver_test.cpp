// The extraction driver with the platform's real cabinet library and real cabinets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cab_writer.h"
#include "cabrun.h"
#include "binding.h"
#include "driver.h"
#include "embedded_file.h"
#include "lane.h"
#include "name_cases.h"
#include "test_util.h"

namespace {

std::string Fixture(const char* name) {
    return ReadBytes(ExeDir() + "\\fixtures\\" + name);
}

std::vector<std::string> Names(const CabRunResult& r) {
    std::vector<std::string> names;
    for (const ProgressLine& p : r.progress)
        names.push_back(p.fileName);
    return names;
}

// The test executable carries embedded.cab; extract it in this process.
TEST(DriverTest, ExtractsTheEmbeddedCabinetInProcess) {
    g_hInstance = GetModuleHandleW(nullptr);
    CurrentLane()->selfFile = nullptr;
    CurrentLane()->selfFileRefs = 0;
    TempDir dir("inproc");
    const std::string dest = dir / "out";
    CreateDirectoryA(dest.c_str(), nullptr);
    {
        CabExtractor ex(nullptr); // progress goes to this thread's queue
        ASSERT_TRUE(LoadCabinetLibrary(&ex));
        EXPECT_TRUE(ExtractAll(&ex, (dest + "\\").c_str())); // normalised, as the job gives it
        EXPECT_EQ(GetCabErrorMessage(&ex, nullptr), 0);
    }
    int progress = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_EXTRACT_PROGRESS, WM_EXTRACT_PROGRESS, PM_REMOVE)) {
        FreeProgressInfo(reinterpret_cast<ProgressInfo*>(msg.wParam));
        ++progress;
    }
    EXPECT_EQ(progress, 3);
    EXPECT_EQ(CurrentLane()->selfFileRefs, 0);
    EXPECT_EQ(CurrentLane()->selfFile, nullptr);
    EXPECT_EQ(ListTree(dest),
              (std::vector<std::string>{"data\\", "data\\deep\\", "data\\deep\\zeros.bin",
                                        "data\\random.bin", "hello.txt"}));
    EXPECT_EQ(ReadBytes(dest + "\\data\\deep\\zeros.bin"), std::string(64 * 1024, '\0'));
    EXPECT_EQ(ReadBytes(dest + "\\hello.txt").substr(0, 32), "Hello from the embedded cabinet.");
}

TEST(DriverTest, TrailingBackslashOrNotGivesTheSameOutput) {
    const std::string cab = Fixture("tree.cab");
    for (const char* suffix : {"", "\\"}) {
        TempDir dir("tree");
        const std::string dest = dir / "out";
        CabRunResult r = RunCab(cab, dir.path(), dest + suffix);
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << r.message;
        EXPECT_EQ(ListTree(dest),
                  (std::vector<std::string>{"a\\", "a\\b\\", "a\\b\\c.txt", "a\\sibling.txt",
                                            "readme.txt", "x\\", "x\\y.bin"}));
        EXPECT_EQ(ReadBytes(dest + "\\a\\b\\c.txt"), "three levels down\r\n");
        ASSERT_EQ(r.progress.size(), 4u);
        const ProgressLine* nested = nullptr;
        const ProgressLine* top = nullptr;
        for (const ProgressLine& p : r.progress) {
            if (p.fileName == "c.txt")
                nested = &p;
            if (p.fileName == "readme.txt")
                top = &p;
        }
        ASSERT_TRUE(nested && top);
        EXPECT_EQ(nested->archiveDir, "a\\b\\");
        EXPECT_EQ(nested->outputDir, dest + "\\a\\b\\");
        EXPECT_EQ(nested->outputPath, dest + "\\a\\b\\c.txt");
        EXPECT_EQ(nested->size, 19);
        EXPECT_EQ(top->archiveDir, "");
        EXPECT_EQ(top->outputDir, dest + "\\");
        EXPECT_EQ(top->outputPath, dest + "\\readme.txt");
    }
}

TEST(DriverTest, NullOrEmptyDestinationExtractsIntoTheCurrentFolder) {
    for (const char* dest : {"-", ""}) {
        TempDir dir("cwd");
        CabRunResult r = RunCab(Fixture("tree.cab"), dir.path(), dest);
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << r.message;
        EXPECT_TRUE(PathExists(dir / "a\\b\\c.txt")) << "dest '" << dest << "'";
        EXPECT_TRUE(PathExists(dir / "readme.txt"));
        EXPECT_FALSE(PathExists("C:\\readme.txt"));
    }
}

TEST(DriverTest, AttributesAreMaskedAndTimesStampedAsLocalTime) {
    struct Case {
        const char* name;
        uint16_t attribs;
        DWORD expectedLow3; // Wine always adds the archive bit, so compare read-only/hidden/system
    } cases[] = {
        {"ra.txt", 0xA1, 0x01},  {"hidden.txt", 0x02, 0x02}, {"sys.txt", 0x04, 0x04},
        {"all.txt", 0x27, 0x07}, {"plain.txt", 0x20, 0x00},  {"exec.txt", 0x40, 0x00},
        {"utf.txt", 0x80, 0x00},
    };
    std::vector<CabEntry> files;
    for (const Case& c : cases) {
        CabEntry e;
        e.name = c.name;
        e.data = std::string("data of ") + c.name;
        e.attribs = c.attribs;
        e.date = static_cast<uint16_t>(((2019 - 1980) << 9) | (7 << 5) | 14); // 2019-07-14
        e.time = static_cast<uint16_t>((13 << 11) | (45 << 5) | (30 / 2));    // 13:45:30
        files.push_back(e);
    }
    TempDir dir("attr");
    CabRunResult r = RunCab(WriteCab(files), dir.path(), dir / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    for (const Case& c : cases) {
        const std::string path = dir / "out\\" + c.name;
        ASSERT_NE(Attributes(path), INVALID_FILE_ATTRIBUTES) << c.name;
        EXPECT_EQ(Attributes(path) & 0x07, c.expectedLow3) << c.name;
        EXPECT_EQ(Attributes(path) & 0x40, 0u) << c.name;
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
        for (FILETIME utc : {data.ftLastWriteTime, data.ftCreationTime}) {
            FILETIME local;
            SYSTEMTIME st;
            FileTimeToLocalFileTime(&utc, &local);
            FileTimeToSystemTime(&local, &st);
            EXPECT_EQ(st.wYear, 2019);
            EXPECT_EQ(st.wMonth, 7);
            EXPECT_EQ(st.wDay, 14);
            EXPECT_EQ(st.wHour, 13);
            EXPECT_EQ(st.wMinute, 45);
            EXPECT_EQ(st.wSecond, 30);
        }
    }
    for (const ProgressLine& p : r.progress) {
        if (p.fileName == "ra.txt") {
            EXPECT_EQ(p.attributes, 0xA1u); // the record carries the word unmasked
        }
    }
}

TEST(DriverTest, ExistingFilesAreReplaced) {
    // A plain file takes the truncating open; a read-only one also needs its attributes cleared.
    for (const DWORD attributes :
         {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN}}) {
        TempDir dir("ro");
        const std::string dest = dir / "out";
        CreateDirectoryA(dest.c_str(), nullptr);
        WriteBytes(dest + "\\readme.txt", "an older and longer version of the file");
        SetFileAttributesA((dest + "\\readme.txt").c_str(), attributes);
        CabRunResult r = RunCab(Fixture("tree.cab"), dir.path(), dest);
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << r.message;
        EXPECT_EQ(ReadBytes(dest + "\\readme.txt"), "top level\r\n") << attributes;
        EXPECT_EQ(Attributes(dest + "\\readme.txt") & 0x07, 0u);
    }
}

TEST(DriverTest, OutputPathThatIsAFolderFailsWithTargetFileError) {
    TempDir dir("folder");
    const std::string dest = dir / "out";
    CreateDirectoryA(dest.c_str(), nullptr);
    CreateDirectoryA((dest + "\\readme.txt").c_str(), nullptr);
    CabRunResult r = RunCab(Fixture("tree.cab"), dir.path(), dest);
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.code, 8); // not "User aborted": the pending cause wins
    EXPECT_EQ(r.message, "Failure writing to target file");
}

TEST(DriverTest, DamagedCabinetsReportTheLibrarysError) {
    // Break the first MSZIP block's "CK" signature: the library cannot decode it.
    std::string corrupt = Fixture("tree.cab");
    const size_t firstBlock =
        static_cast<unsigned char>(corrupt[36]) | static_cast<unsigned char>(corrupt[37]) << 8;
    ASSERT_EQ(corrupt.substr(firstBlock + 8, 2), "CK");
    corrupt[firstBlock + 8] = 'X';
    std::string notCab = "NOTACABINET" + std::string(2000, 'x');
    struct Case {
        const char* what;
        std::string cab;
        int code;
        const char* message;
    } cases[] = {
        {"corrupt data", corrupt, 4, "Corrupt cabinet"},
        {"not a cabinet", notCab, 2, "Not a cabinet"},
        {"nothing appended", "", 2, "Not a cabinet"},
    };
    for (const Case& c : cases) {
        TempDir dir("damaged");
        CabRunResult r = RunCab(c.cab, dir.path(), dir / "out");
        ASSERT_TRUE(r.finished) << c.what << r.raw;
        EXPECT_EQ(r.ok, 0) << c.what;
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
    }
}

TEST(DriverTest, CancellationSkipsLaterFilesButOffersEveryOne) {
    const std::string cab = Fixture("cancel.cab");
    {
        TempDir dir("cancel");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out", "--cancel-at 2");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << r.message;
        EXPECT_EQ(r.progress.size(), 20u); // a progress message for every file, skipped or not
        EXPECT_TRUE(PathExists(dir / "out\\01-first.txt"));
        // The flag may land just before or just after the large file is offered: either it is
        // skipped, or it is completed; nothing after it is written.
        const bool large = PathExists(dir / "out\\02-large.bin");
        if (large) {
            EXPECT_EQ(ReadBytes(dir / "out\\02-large.bin").size(), 24u * 1024 * 1024);
        }
        EXPECT_EQ(ListTree(dir / "out").size(), large ? 2u : 1u);
    }
    {
        TempDir dir("cancel0");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out", "--cancel-at 0");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1);
        EXPECT_EQ(r.progress.size(), 20u);
        EXPECT_TRUE(ListTree(dir / "out").empty());
    }
}

// A file of an earlier run held by another program (here: this one, without sharing): the
// checks name it before anything is replaced; met by the driver alone, it fails the run
// saying the folder is incomplete, and its attributes are left alone.
TEST(DriverTest, FileHeldByAnotherProgramIsNamed) {
    const struct {
        const char* args;
        int code;
        const char* message;
        const char* before; // what the file archived before it holds afterwards
    } cases[] = {
        {"--check", 1004,
         "Le fichier « readme.txt » est utilisé par un autre programme. Fermez ce programme, "
         "puis cliquez sur Réessayer.",
         "old"},
        {"", 1004,
         "Fichier utilisé par un autre programme : readme.txt. L'extraction est "
         "incomplète.",
         nullptr},
    };
    for (const auto& c : cases) {
        TempDir dir("held");
        const std::string dest = dir / "out";
        CreateDirectoryA(dest.c_str(), nullptr);
        WriteBytes(dest + "\\readme.txt", "held");
        CreateDirectoryA((dest + "\\a").c_str(), nullptr);
        WriteBytes(dest + "\\a\\sibling.txt", "old");
        const HANDLE held = CreateFileA((dest + "\\readme.txt").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        CabRunResult r = RunCab(Fixture("tree.cab"), dir.path(), dest, c.args);
        CloseHandle(held);
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 0) << c.args;
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_EQ(r.message, c.message) << c.args;
        EXPECT_EQ(ReadBytes(dest + "\\readme.txt"), "held") << c.args;
        if (c.before) {
            EXPECT_EQ(ReadBytes(dest + "\\a\\sibling.txt"), c.before) << c.args;
        }
    }
}

// A cancel confirmed before the checks are done stops them: nothing is offered, nothing is
// written, and the run reports the cancel rather than a failure of the payload.
TEST(DriverTest, ConfirmedCancelStopsTheChecks) {
    TempDir dir("cancel-check");
    CabRunResult r =
        RunCab(Fixture("cancel.cab"), dir.path(), dir / "out", "--cancel-at 0 --check");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.code, FDIERROR_USER_ABORT) << r.message;
    EXPECT_TRUE(r.progress.empty());
    EXPECT_FALSE(PathExists(dir / "out"));
}

// Each name after a first good file: a refused one fails the run with code 1002 and writes
// nothing, anywhere; a written one lands where its case says, trimmed as Windows would.
TEST(DriverTest, NamesLandOrAreRefusedAsTheirCaseSays) {
    for (const NameCase& c : NameCases()) {
        if (c.name.size() > kMaxNameBytes)
            continue; // no cabinet holds it
        TempDir dir("name");
        std::vector<CabEntry> files(2);
        files[0].name = "first.txt";
        files[0].data = "fine";
        files[1].name = c.name;
        files[1].attribs = c.attribs;
        files[1].data = "second";
        CabRunResult r = RunCab(WriteCab(files), dir.path(), dir / "out");
        ASSERT_TRUE(r.finished) << c.name << r.raw;
        EXPECT_EQ(r.ok, c.landsAs ? 1 : 0) << c.name;
        // A refused name fails as the checks refuse it, naming it.
        EXPECT_EQ(r.code, c.landsAs ? 0 : 1002) << c.name;
        const std::string said =
            c.landsAs ? "No error" : "Nom de fichier impossible à écrire sous Windows : ";
        EXPECT_EQ(r.message.substr(0, said.size()), said) << c.name;
        std::vector<std::string> expected = {"out\\first.txt", "run.exe"};
        if (c.landsAs) {
            expected.push_back(std::string("out\\") + c.landsAs);
            EXPECT_EQ(ReadBytes(dir / "out\\" + c.landsAs), "second") << c.name;
        }
        std::vector<std::string> tree = ListTree(dir.path());
        tree.erase(std::remove_if(tree.begin(), tree.end(),
                                  [](const std::string& p) { return p.back() == '\\'; }),
                   tree.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(tree, expected) << c.name;
        // Refused names are offered files too (the helper prints a record a line).
        if (c.name.find_first_of("\r\n") == std::string::npos) {
            EXPECT_EQ(r.progress.size(), 2u) << c.name;
        }
        EXPECT_FALSE(PathExists("C:\\evil.txt")) << c.name;
        EXPECT_FALSE(PathExists("C:\\ot\\evil.txt")) << c.name;
    }
}

TEST(DriverTest, LongPathsExtractWithTimesAndAttributes) {
    TempDir dir("long");
    const std::string deep = dir / (std::string(200, 'd') + "\\" + std::string(60, 'e'));
    std::vector<CabEntry> files(2);
    files[0].name = std::string(100, 'a') + "\\" + std::string(140, 'b') + ".txt";
    files[1].name = "ro.txt";
    files[0].data = files[1].data = "x";
    files[0].attribs = files[1].attribs = 0x21; // read-only, archive
    CabRunResult r = RunCab(WriteCab(files), dir.path(), deep);
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    for (const CabEntry& f : files) {
        const std::string path = deep + "\\" + f.name;
        EXPECT_EQ(ReadBytes(path), "x") << path.size();
        EXPECT_EQ(Attributes(path) & 0x27, 0x21u) << path.size();
        const SYSTEMTIME st = LocalWriteTime(path); // 0x5B8E 0x6000: 2025-12-14 12:00:00
        EXPECT_EQ(std::vector<int>({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute}),
                  std::vector<int>({2025, 12, 14, 12, 0}));
    }
    EXPECT_GT(r.progress[0].outputPath.size(), 500u);
}

// Without a destination the run extracts into the working folder: the room is looked for on
// that folder's volume (the small one), not on the boot volume that a relative path names.
TEST(DriverTest, RoomOfTheWorkingFolderIsCheckedWithoutADestination) {
    ASSERT_NE(getenv("ORVANTA_SMALL_VOLUME"), nullptr) << "run by CTest, which mounts the volume";
    const std::string root = SmallVolume();
    if (root.empty())
        GTEST_SKIP() << "no small file system: mounting needs root";
    CabEntry big;
    big.name = "big";
    big.data = std::string(200000, 'w');
    TempDir dir("room");
    CabRunResult r = RunCabFrom(WriteCab({big}), dir.path(), root, "-", "--check");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.code, 1003) << r.message;
    EXPECT_FALSE(PathExists(root + "\\big"));
}

// A 64 KiB file system, mounted by CTest under ORVANTA_SMALL_VOLUME: a write that does not
// fit fails the run, and the file being written is removed; the files completed before stay.
TEST(DriverTest, FailedWriteFailsTheRunAndRemovesTheFileEvenTheLast) {
    ASSERT_NE(getenv("ORVANTA_SMALL_VOLUME"), nullptr) << "run by CTest, which mounts the volume";
    const std::string root = SmallVolume();
    if (root.empty())
        GTEST_SKIP() << "no small file system: mounting needs root";
    struct Case {
        const char* folder;
        std::vector<std::string> names;
        size_t offered;
    } cases[] = {{"1", {"big"}, 1}, {"2", {"small", "big"}, 2}, {"3", {"big", "small"}, 1}};
    for (const Case& c : cases) {
        std::vector<CabEntry> files;
        for (const std::string& n : c.names) {
            CabEntry e;
            e.name = n;
            e.data = std::string(n == "big" ? 200000 : 1000, 'w');
            files.push_back(e);
        }
        TempDir dir("full");
        const std::string dest = root + "\\" + c.folder;
        CabRunResult r = RunCab(WriteCab(files), dir.path(), dest);
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 0) << c.folder;
        EXPECT_EQ(r.code, 8) << c.folder;
        EXPECT_EQ(r.message, "Failure writing to target file");
        EXPECT_EQ(r.progress.size(), c.offered) << c.folder;
        std::vector<std::string> left =
            c.names[0] == "small" ? std::vector<std::string>{"small"} : std::vector<std::string>{};
        EXPECT_EQ(ListTree(dest), left) << c.folder;
    }
}

TEST(DriverTest, Utf8NamesLandUnderTheirRealNames) {
    TempDir dir("utf8");
    CabRunResult r = RunCab(Fixture("utf8.cab"), dir.path(), dir / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    const std::wstring out = std::wstring(dir.path().begin(), dir.path().end()) + L"\\out\\";
    EXPECT_NE(GetFileAttributesW((out + L"caf\u00e9.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((out + L"dossier \u00e9t\u00e9\\na\u00efve.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Names(r), (std::vector<std::string>{"caf\xc3\xa9.txt", "na\xc3\xafve.txt"}));
    for (const ProgressLine& p : r.progress)
        EXPECT_EQ(p.attributes & 0x80, 0x80u);
}

// Names are held as UTF-8 and reach the disk as UTF-16: the ANSI code page (1252 here) no
// longer limits them.
TEST(DriverTest, Utf8NameOutsideTheAnsiCodePageLandsUnderItsName) {
    TempDir dir("unmappable");
    CabRunResult r = RunCab(Fixture("unmappable.cab"), dir.path(), dir / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(ReadBytes(dir / "out\\\xe6\x97\xa5\xe6\x9c\xac.txt"),
              "no ANSI form in code page 1252\r\n");
}

// Run by its own CTest entry with ANSI code page 932: double-byte names whose trail byte is
// 0x5C, stored in the code page or flagged UTF-8, land under their own names.
TEST(CodePage932Test, DoubleByteNamesLandUnderTheirOwnNames) {
    ASSERT_EQ(GetACP(), 932u) << "run with ORVANTA_LOCALE=ja_JP.UTF-8";
    std::vector<CabEntry> files(3);
    files[0].name = "\x95\x5c.txt";                         // 表.txt
    files[1].name = "\x83\x5c\x83\x74\x83\x67\\readme.txt"; // ソフト\readme.txt
    files[2].name = "\xe4\xba\x88\\\xe8\x83\xbd.txt";       // 予\能.txt, flagged UTF-8
    files[2].attribs = 0xA0;
    for (CabEntry& f : files)
        f.data = f.name;
    TempDir dir("cp932");
    CabRunResult r = RunCab(WriteCab(files), dir.path(), dir / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.raw;
    const char* utf8[] = {"\xe8\xa1\xa8.txt", "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\\readme.txt",
                          "\xe4\xba\x88\\\xe8\x83\xbd.txt"};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(ReadBytes(dir / "out\\" + utf8[i]), files[i].data) << utf8[i];
    ASSERT_EQ(r.progress.size(), 3u);
    EXPECT_EQ(Names(r),
              (std::vector<std::string>{"\xe8\xa1\xa8.txt", "readme.txt", "\xe8\x83\xbd.txt"}));
    EXPECT_EQ(r.progress[1].archiveDir, "\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88\\");
}

// Spanned sets made by the platform's own cabarc, continuations found in the working folder.
class SpannedSetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = new TempDir("span");
        const std::string src = *dir_ / "src";
        CreateDirectoryA(src.c_str(), nullptr);
        std::string noise;
        unsigned x = 12345;
        for (int i = 0; i < 150000; ++i) {
            x = x * 1103515245u + 12345u;
            noise.push_back(static_cast<char>(x >> 24));
        }
        for (int i = 1; i <= 4; ++i)
            WriteBytes(src + "\\part" + std::to_string(i) + ".bin", noise.substr(i * 1000));
        ProcessResult p = RunProcess(
            "C:\\windows\\system32\\cabarc.exe -d 200000 -m mszip N set*.cab src\\part1.bin "
            "src\\part2.bin src\\part3.bin src\\part4.bin",
            dir_->path());
        ASSERT_EQ(p.exitCode, 0u) << p.output;
        ASSERT_TRUE(PathExists(*dir_ / "set1.cab")) << p.output;
        ASSERT_TRUE(PathExists(*dir_ / "set3.cab")) << p.output;
    }
    void TearDown() override { delete dir_; }
    TempDir* dir_ = nullptr;
};

TEST_F(SpannedSetTest, FollowsTheChainThroughTheWorkingFolder) {
    const std::string first = ReadBytes(*dir_ / "set1.cab");
    CabRunResult r = RunCab(first, dir_->path(), *dir_ / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    for (int i = 1; i <= 4; ++i) {
        const std::string name = "part" + std::to_string(i) + ".bin";
        EXPECT_EQ(ReadBytes(*dir_ / "out\\" + name), ReadBytes(*dir_ / "src\\" + name)) << name;
    }
}

TEST_F(SpannedSetTest, MissingContinuationIsReported) {
    const std::string first = ReadBytes(*dir_ / "set1.cab");
    DeleteFileA((*dir_ / "set2.cab").c_str());
    CabRunResult r = RunCab(first, dir_->path(), *dir_ / "out");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.message, "Cabinet file (or part of splitted CAB) not found: set2.cab");
}

// A part that fails the checks made before the first write is refused when the library
// reaches it: the file spanning into it is removed, the files before it stay.
TEST_F(SpannedSetTest, LaterPartIsCheckedWhenReached) {
    const std::string second = ReadBytes(*dir_ / "set2.cab");
    std::string renamed = second;
    const std::string::size_type at = renamed.find("part3.bin");
    ASSERT_NE(at, std::string::npos);
    renamed.replace(at, 9, "con\\x.bin");
    const struct {
        const char* what;
        std::string part;
        const char* message;
    } cases[] = {
        {"cut", second.substr(0, second.size() / 2),
         "Programme d'installation incomplet ou endommagé (set2.cab) : téléchargez-le à nouveau."},
        {"device name", renamed, "Nom de fichier impossible à écrire sous Windows : con\\x.bin"},
    };
    for (const auto& c : cases) {
        WriteBytes(*dir_ / "set2.cab", c.part);
        const std::string out = *dir_ / (std::string("out-") + c.what);
        CabRunResult r = RunCab(ReadBytes(*dir_ / "set1.cab"), dir_->path(), out);
        ASSERT_TRUE(r.finished) << c.what << r.raw;
        EXPECT_EQ(r.ok, 0) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
        EXPECT_EQ(ListTree(out), (std::vector<std::string>{"part1.bin"})) << c.what;
        EXPECT_EQ(ReadBytes(out + "\\part1.bin"), ReadBytes(*dir_ / "src\\part1.bin"));
    }
}

// set2 patched to name set1 (present on disk as well) as its successor: a cycle.
TEST_F(SpannedSetTest, CyclicChainEndsWithAFailure) {
    std::string second = ReadBytes(*dir_ / "set2.cab");
    const std::string::size_type at = second.find("set3.cab");
    ASSERT_NE(at, std::string::npos);
    second.replace(at, 8, "set1.cab");
    WriteBytes(*dir_ / "set2.cab", second);
    CabRunResult r = RunCab(ReadBytes(*dir_ / "set1.cab"), dir_->path(), *dir_ / "out");
    ASSERT_TRUE(r.finished) << "the chain did not end: " << r.raw;
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.code, 10);
    EXPECT_EQ(r.message, "Cabinet returned on fdintNEXT_CABINET is incorrect");
}

// A set whose cabinets end on whole files, so that the library raises no fdintNEXT_CABINET:
// the program runs from inst\, started in work\, and its later cabinets lie in either.
TEST(CabinetSetTest, LaterCabinetsAreFoundBesideTheProgramFirst) {
    auto files = [](const std::string& tag) {
        return std::vector<CabEntry>{{tag + "-1.txt", tag + " one"},
                                     {tag + "-2.txt", tag + " two"}};
    };
    CabLink first, second, third;
    first.next = "pkg-2.cab";
    second = {"run.exe", "pkg-3.cab", 0x1234, 1};
    third = {"pkg-2.cab", "", 0x1234, 2};
    const std::string cabA = WriteCab(files("a"), first);
    const std::string cabB = WriteCab(files("b"), second);
    const std::string cabC = WriteCab(files("c"), third);
    CabLink wrongIndex = third;
    wrongIndex.index = 5;
    const std::vector<std::string> whole = {"a-1.txt", "a-2.txt", "b-1.txt",
                                            "b-2.txt", "c-1.txt", "c-2.txt"};
    const struct {
        const char* what;
        std::string besideB, besideC, workB, workC; // empty: no such file
        int code;
        const char* message;
    } cases[] = {
        {"beside", cabB, cabC, "", "", 0, "No error"},
        {"working folder", "", "", cabB, cabC, 0, "No error"},
        {"beside wins", cabB, cabC, WriteCab(files("decoy"), second), "", 0, "No error"},
        {"missing", cabB, "", "", "", 1,
         "Cabinet file (or part of splitted CAB) not found: pkg-3.cab"},
        {"wrong index", cabB, WriteCab(files("c"), wrongIndex), "", "", 10,
         "Cabinet returned on fdintNEXT_CABINET is incorrect: pkg-3.cab"},
    };
    for (const auto& c : cases) {
        TempDir dir("set");
        const std::string inst = dir / "inst", work = dir / "work", out = dir / "out";
        CreateDirectoryA(inst.c_str(), nullptr);
        CreateDirectoryA(work.c_str(), nullptr);
        const std::pair<std::string, std::string> placed[] = {{inst + "\\pkg-2.cab", c.besideB},
                                                              {inst + "\\pkg-3.cab", c.besideC},
                                                              {work + "\\pkg-2.cab", c.workB},
                                                              {work + "\\pkg-3.cab", c.workC}};
        for (const auto& p : placed) {
            if (!p.second.empty())
                WriteBytes(p.first, p.second);
        }
        CabRunResult r = RunCabFrom(cabA, inst, work, out, "--check");
        ASSERT_TRUE(r.finished) << c.what << r.raw;
        EXPECT_EQ(r.code, c.code) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
        if (c.code != 0) {
            EXPECT_FALSE(PathExists(out)) << c.what << ": nothing is written";
            continue;
        }
        EXPECT_EQ(ListTree(out), whole) << c.what;
        EXPECT_EQ(ReadBytes(out + "\\b-2.txt"), "b two") << c.what;
    }
}

} // namespace

namespace {

// The by-name stamping, used when the open output handle does not take the times.
TEST(DriverTest, StampingByNameSetsTimesThenAttributes) {
    struct Case {
        USHORT attribs;
        DWORD low3;
    } cases[] = {{0x21, 0x01}, {0x06, 0x06}, {0xA0, 0x00}};
    for (const Case& c : cases) {
        TempDir dir("stamp");
        const std::string path = dir / "f.txt";
        WriteBytes(path, "x");
        const USHORT date = static_cast<USHORT>(((2001 - 1980) << 9) | (2 << 5) | 3);
        const USHORT time = static_cast<USHORT>((4 << 11) | (5 << 5) | 3);
        ApplyFileTimeAndAttributes(path.c_str(), date, time, c.attribs);
        EXPECT_EQ(Attributes(path) & 0x07, c.low3) << c.attribs;
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
        FILETIME local;
        WORD gotDate = 0, gotTime = 0;
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToDosDateTime(&local, &gotDate, &gotTime);
        EXPECT_EQ(gotDate, date);
        EXPECT_EQ(gotTime, time);
    }
}

} // namespace
