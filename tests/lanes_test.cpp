// Folders extracted at the same time: the tables each lane reads, and whole runs on one, two
// and four lanes with cancels, failed closes and a damaged folder among sound ones.
#include <gtest/gtest.h>

#include <windows.h>
#include <fdi.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cab_format.h"
#include "cab_table.h"
#include "cab_writer.h"
#include "cabrun.h"
#include "close_pool.h"
#include "lane_tables.h"
#include "test_util.h"

namespace {

CabEntry File(const std::string& name, size_t size, char fill) {
    CabEntry e;
    e.name = name;
    e.data = std::string(size, fill);
    for (size_t i = 0; i < size; i += 97)
        e.data[i] = static_cast<char>('a' + (i / 97) % 26); // no two blocks alike
    return e;
}

// Folder i holds sizes[i] bytes in files "fI-J.bin" of at most 40 KiB each.
std::vector<std::vector<CabEntry>> Folders(const std::vector<size_t>& sizes) {
    std::vector<std::vector<CabEntry>> folders;
    for (size_t i = 0; i < sizes.size(); ++i) {
        folders.emplace_back();
        size_t left = sizes[i];
        for (int j = 0; left > 0; ++j) {
            const size_t n = left < 40 * 1024 ? left : 40 * 1024;
            folders.back().push_back(File("f" + std::to_string(i) + "\\" + std::to_string(j) +
                                              ".bin",
                                          n, static_cast<char>('A' + i)));
            left -= n;
        }
    }
    return folders;
}

struct Listed {
    std::vector<std::string> names;
    std::vector<uint16_t> folders;
    uint16_t folderCount = 0;
};

bool Collect(void* context, const CabTableFile& file) {
    Listed* listed = static_cast<Listed*>(context);
    listed->names.push_back(file.name);
    listed->folders.push_back(file.folder);
    return true;
}

// What the library would read through a lane: its tables, then the cabinet's own bytes.
Listed ReadThroughLane(const std::string& cab, const LaneTables& lane) {
    std::string seen(reinterpret_cast<const char*>(lane.bytes), lane.length);
    seen += cab.substr(lane.length);
    Listed listed;
    CabTableHeader header = {};
    size_t needed = 0;
    EXPECT_EQ(ReadCabTable(reinterpret_cast<const unsigned char*>(seen.data()), seen.size(),
                           &header, &needed, Collect, &listed),
              kTableRead);
    listed.folderCount = static_cast<uint16_t>(static_cast<unsigned char>(seen[kCfheadFolderCount]) |
                                               static_cast<unsigned char>(seen[kCfheadFolderCount + 1])
                                                   << 8);
    // Each folder entry still points at that folder's own first block.
    for (uint16_t f = 0; f < listed.folderCount; ++f) {
        const size_t entry = kCfheadSizeof + f * kCffoldSizeof;
        const uint32_t start = static_cast<unsigned char>(seen[entry]) |
                               static_cast<unsigned char>(seen[entry + 1]) << 8 |
                               static_cast<unsigned char>(seen[entry + 2]) << 16;
        EXPECT_GE(start, lane.length);
    }
    return listed;
}

TEST(LaneTablesTest, EachFolderGoesToOneLaneLargestFirst) {
    // Folders of 300, 100, 200 and 50 KiB on two lanes: 300 first, 200 and 100 to the other
    // lane, 50 to the first (a tie goes to the lower lane): 300 + 50 | 100 + 200.
    const auto folders = Folders({300 * 1024, 100 * 1024, 200 * 1024, 50 * 1024});
    const std::string cab = WriteFoldersCab(folders);
    LaneTables lanes[kMaxLanes];
    int used = 0;
    size_t needed = 0;
    ASSERT_EQ(SplitFolders(reinterpret_cast<const unsigned char*>(cab.data()), cab.size(), 2, lanes,
                           &used, &needed),
              kSplitDone);
    ASSERT_EQ(used, 2);
    EXPECT_EQ(lanes[0].work, 350u * 1024);
    EXPECT_EQ(lanes[1].work, 300u * 1024);
    const Listed first = ReadThroughLane(cab, lanes[0]);
    const Listed second = ReadThroughLane(cab, lanes[1]);
    EXPECT_EQ(first.folderCount, 2);
    EXPECT_EQ(second.folderCount, 2);
    // Every file exactly once, in the cabinet's order within each lane, renumbered folders.
    std::map<std::string, int> seen;
    for (const Listed* l : {&first, &second}) {
        for (size_t i = 0; i < l->names.size(); ++i) {
            ++seen[l->names[i]];
            EXPECT_LT(l->folders[i], l->folderCount) << l->names[i];
            if (i > 0) {
                EXPECT_LE(l->folders[i - 1], l->folders[i]);
            }
        }
    }
    size_t total = 0;
    for (const auto& folder : folders) {
        for (const CabEntry& e : folder) {
            EXPECT_EQ(seen[e.name], 1) << e.name;
            ++total;
        }
    }
    EXPECT_EQ(seen.size(), total);
    EXPECT_EQ(first.names.front(), "f0\\0.bin");
    EXPECT_EQ(second.names.front(), "f1\\0.bin");
    FreeLaneTables(lanes, used);
}

TEST(LaneTablesTest, WhatIsNotSharedStaysOnOneLane) {
    const std::string three = WriteFoldersCab(Folders({1000, 2000, 3000}));
    std::vector<CabEntry> one = {File("a.bin", 100, 'a'), File("b.bin", 100, 'b')};
    CabLink next;
    next.next = "second.cab";
    std::string strayFolder = three;
    const size_t firstFile = kCfheadSizeof + 3 * kCffoldSizeof;
    strayFolder[firstFile + kCffileFolderIndex] = 7; // no such folder
    std::string cutName = three.substr(0, three.find("f2\\0.bin") + 4);
    struct Case {
        const char* what;
        std::string cab;
        int lanes;
        SplitResult result;
        int used;
    } cases[] = {
        {"three folders on four lanes", three, 4, kSplitDone, 3},
        {"three folders on one lane", three, 1, kSplitOneLane, 0},
        {"one folder", WriteCab(one), 4, kSplitOneLane, 0},
        {"part of a set", WriteCab(one, next), 4, kSplitOneLane, 0},
        {"a file of no folder", strayFolder, 2, kSplitOneLane, 0},
        {"tables cut short", cutName, 2, kSplitNeedMore, 0},
        {"header cut short", three.substr(0, 20), 2, kSplitNeedMore, 0},
        {"not a cabinet", "MSCX" + three.substr(4), 2, kSplitOneLane, 0},
        // Which copy stays would depend on which lane ends last.
        {"one name in two folders",
         WriteFoldersCab({{File("Setup.ini", 100, 'a'), File("x.bin", 100, 'x')},
                          {File("SETUP.INI", 100, 'b')}}),
         2, kSplitOneLane, 0},
        {"one name twice in one folder",
         WriteFoldersCab({{File("Setup.ini", 100, 'a'), File("setup.INI", 100, 'x')},
                          {File("other.ini", 100, 'b')}}),
         2, kSplitDone, 2},
    };
    for (const Case& c : cases) {
        LaneTables lanes[kMaxLanes];
        int used = -1;
        size_t needed = 0;
        EXPECT_EQ(SplitFolders(reinterpret_cast<const unsigned char*>(c.cab.data()), c.cab.size(),
                               c.lanes, lanes, &used, &needed),
                  c.result)
            << c.what;
        EXPECT_EQ(used, c.used) << c.what;
        if (c.result == kSplitNeedMore) {
            EXPECT_GT(needed, c.cab.size()) << c.what;
        }
        FreeLaneTables(lanes, used > 0 ? used : 0);
    }
}

// ORVANTA_THREADS for the child runs of one scope.
class ForcedLanes {
  public:
    explicit ForcedLanes(int lanes) {
        SetEnvironmentVariableA("ORVANTA_THREADS", lanes ? std::to_string(lanes).c_str() : nullptr);
    }
    ~ForcedLanes() { SetEnvironmentVariableA("ORVANTA_THREADS", nullptr); }
};

// The files every run of the folders must leave, by output path under dest.
std::map<std::string, std::string> Expected(const std::vector<std::vector<CabEntry>>& folders) {
    std::map<std::string, std::string> files;
    for (const auto& folder : folders) {
        for (const CabEntry& e : folder)
            files[e.name] = e.data;
    }
    return files;
}

// The files under dest, none of them cut short: each one present is whole.
size_t CountWholeFiles(const std::string& dest, const std::map<std::string, std::string>& all) {
    size_t whole = 0;
    for (const auto& [name, data] : all) {
        if (!PathExists(dest + "\\" + name))
            continue;
        EXPECT_EQ(ReadBytes(dest + "\\" + name), data) << name << " was left cut short";
        ++whole;
    }
    return whole;
}

TEST(LanesTest, ManyFoldersGiveTheSameFilesOnAnyNumberOfLanes) {
    const auto folders = Folders({200 * 1024, 150 * 1024, 170 * 1024, 90 * 1024, 120 * 1024});
    const auto all = Expected(folders);
    const std::string cab = WriteFoldersCab(folders);
    const struct {
        int forced;
        int lanes;
    } cases[] = {{1, 1}, {2, 2}, {4, 4}};
    for (const auto& c : cases) {
        ForcedLanes forced(c.forced);
        TempDir dir("lanes");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << c.forced << r.message;
        EXPECT_EQ(r.lanes, c.lanes);
        EXPECT_EQ(CountWholeFiles(dir / "out", all), all.size()) << c.forced;
        // Every file offered once, by the lane that writes it.
        std::map<std::string, int> offered;
        for (const ProgressLine& p : r.progress)
            ++offered[p.archiveDir + p.fileName];
        EXPECT_EQ(offered.size(), all.size()) << c.forced;
        EXPECT_EQ(r.progress.size(), all.size()) << c.forced;
    }
}

TEST(LanesTest, OneProcessorByAffinityRunsOneLane) {
    const auto folders = Folders({100 * 1024, 100 * 1024, 100 * 1024});
    TempDir dir("affinity");
    CabRunResult r = RunCab(WriteFoldersCab(folders), dir.path(), dir / "out", "--affinity 1");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(r.lanes, 1);
    EXPECT_EQ(CountWholeFiles(dir / "out", Expected(folders)), Expected(folders).size());
}

TEST(LanesTest, CancelMidRunSkipsLaterFilesOnEveryLane) {
    const auto folders = Folders({4000 * 1024, 4000 * 1024, 4000 * 1024, 4000 * 1024});
    const auto all = Expected(folders);
    ForcedLanes forced(2);
    TempDir dir("lane-cancel");
    CabRunResult r = RunCab(WriteFoldersCab(folders), dir.path(), dir / "out", "--cancel-at 3");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message; // a cancel is no failure
    EXPECT_EQ(r.lanes, 2);
    EXPECT_EQ(r.progress.size(), all.size()); // every file still offered
    const size_t written = CountWholeFiles(dir / "out", all);
    // The flag lands while the lanes run on (a lane may be between its post and its look at
    // the flag): what was opened before it is whole, and the files offered after it, most of
    // them, are skipped.
    EXPECT_LT(written, all.size() / 2);
}

// A box (here held by the test's main thread as the dialog holds its question) stops every
// lane's writes until it is answered; the run then ends whole.
TEST(LanesTest, HeldLanesWriteNothingUntilReleased) {
    const auto folders = Folders({4000 * 1024, 4000 * 1024, 4000 * 1024, 4000 * 1024});
    const auto all = Expected(folders);
    ForcedLanes forced(2);
    TempDir dir("lane-hold");
    CabRunResult r = RunCab(WriteFoldersCab(folders), dir.path(), dir / "out", "--hold-at 2");
    ASSERT_TRUE(r.finished) << r.raw;
    EXPECT_EQ(r.ok, 1) << r.message;
    ASSERT_GE(r.heldKiB[0], 0) << r.raw;
    EXPECT_EQ(r.heldKiB[1], r.heldKiB[0]);
    EXPECT_LT(r.heldKiB[1], 16000); // held before the end
    EXPECT_EQ(CountWholeFiles(dir / "out", all), all.size());
}

// When the closes made on the extraction path prove slow, the pool starts: the close number at
// which each timing starts it, 0 for never within the closes timed.
TEST(ClosePoolTest, SlowClosesStartThePool) {
    const struct {
        const char* what;
        std::vector<uint64_t> micros;
        int startsAt;
    } cases[] = {
        {"quick closes", std::vector<uint64_t>(200, 100), 0},
        {"one close stalled", {50, 50, kStalledCloseMicros}, 3},
        {"one close just short of stalled", {50, kStalledCloseMicros - 1, 50}, 0},
        {"every close slow", std::vector<uint64_t>(40, kSlowCloseMicros), kSlowClosesToStart},
        {"every close just quick", std::vector<uint64_t>(100, kSlowCloseMicros - 1), 0},
        // Quick closes that wait their turn now and then, as under load: never half a window.
        {"a few slow in every window", [] {
             std::vector<uint64_t> v;
             for (int i = 0; i < 10 * kCloseWindow; ++i)
                 v.push_back(i % 3 == 0 ? 8000 : 60);
             return v;
         }(), 0},
        {"slow closes after a quick window", [] {
             std::vector<uint64_t> v(kCloseWindow, 10);
             v.insert(v.end(), kSlowClosesToStart, 4000);
             return v;
         }(), kCloseWindow + kSlowClosesToStart},
        {"half a window's slow closes split across two windows", [] {
             std::vector<uint64_t> v(kCloseWindow - kSlowClosesToStart / 2, 10);
             v.insert(v.end(), kSlowClosesToStart - 1, 4000);
             v.insert(v.end(), kCloseWindow, 10);
             return v;
         }(), 0},
    };
    for (const auto& c : cases) {
        CloseTiming timing;
        int startsAt = 0;
        for (size_t i = 0; i < c.micros.size() && !startsAt; ++i) {
            if (NoteCloseTime(&timing, c.micros[i]))
                startsAt = static_cast<int>(i + 1);
        }
        EXPECT_EQ(startsAt, c.startsAt) << c.what;
    }
}

// A close that fails on a pool thread fails the run with the target file's code and removes
// that file; the files closed before stay whole, and no file is left cut short. Every close
// counts as slow, so the pool takes the files after the first.
TEST(LanesTest, FailedCloseOnThePoolFailsTheRunAndRemovesTheFile) {
    const auto folders = Folders({400 * 1024, 400 * 1024, 400 * 1024});
    const auto all = Expected(folders);
    const std::string cab = WriteFoldersCab(folders);
    for (int lanes : {1, 2}) {
        ForcedLanes forced(lanes);
        TempDir dir("close-fail");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out", "--close-micros 200000 --fail-close 3");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 0) << lanes;
        EXPECT_EQ(r.code, FDIERROR_TARGET_FILE) << lanes << r.message;
        const size_t whole = CountWholeFiles(dir / "out", all);
        EXPECT_GE(whole, 3u) << lanes;
        EXPECT_LT(whole, all.size()) << lanes;
        if (lanes == 1) {
            // One lane closes in the cabinet's order: the first file on the path, the next
            // three on the pool, the last of them removed.
            EXPECT_FALSE(PathExists(dir / "out\\f0\\3.bin"));
        }
    }
}

// Quick closes stay on the extraction path: the pool never starts, so its failing close is
// never reached and the run is whole, on one lane and on two.
TEST(LanesTest, QuickClosesStayOnTheExtractionPath) {
    const auto folders = Folders({400 * 1024, 400 * 1024, 400 * 1024});
    const auto all = Expected(folders);
    const std::string cab = WriteFoldersCab(folders);
    for (int lanes : {1, 2}) {
        ForcedLanes forced(lanes);
        TempDir dir("close-quick");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out", "--close-micros 0 --fail-close 1");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 1) << lanes << r.message;
        EXPECT_EQ(CountWholeFiles(dir / "out", all), all.size()) << lanes;
    }
}

// A damaged block in one folder while the others run: the library's error is the run's, the
// damaged folder's file is removed, and what the other lanes closed before stays whole.
TEST(LanesTest, DamagedFolderAmongOthersFailsTheRunLeavingNothingPartial) {
    const auto folders = Folders({600 * 1024, 90 * 1024, 600 * 1024, 600 * 1024});
    const auto all = Expected(folders);
    const std::string cab = WriteFoldersCab(folders, 1);
    for (int lanes : {1, 2, 4}) {
        ForcedLanes forced(lanes);
        TempDir dir("lane-damage");
        CabRunResult r = RunCab(cab, dir.path(), dir / "out");
        ASSERT_TRUE(r.finished) << r.raw;
        EXPECT_EQ(r.ok, 0) << lanes;
        EXPECT_EQ(r.code, FDIERROR_CORRUPT_CABINET) << lanes << r.message;
        CountWholeFiles(dir / "out", all);
        // The last block, damaged, ends the second file and holds the third.
        EXPECT_FALSE(PathExists(dir / "out\\f1\\1.bin")) << lanes;
        EXPECT_FALSE(PathExists(dir / "out\\f1\\2.bin")) << lanes;
    }
}

} // namespace
