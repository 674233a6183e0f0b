// The split of a payload into folders and cabinets of a set, with lowered part sizes, and the
// set as the writer leaves it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "cab/cab_builder.h"
#include "cab/cab_set.h"
#include "fakes.h"

TEST(SetSplit, FolderLimitFromPartSize) {
    const uint64_t block = kMaxDataBlockSize + kWorstBlockGrowth; // a full block, worst case
    const struct {
        uint64_t partBytes, limit;
    } cases[] = {
        {kMinPartBytes - 1, 0},
        {kMinPartBytes, kMaxDataBlockSize},
        {kMinPartBytes + kWorstBlockGrowth, kMaxDataBlockSize}, // no room for a second block
        {kMinPartBytes + kWorstBlockGrowth + 1, kMaxDataBlockSize + 1},
        {kMinPartBytes + 2 * block, 3 * kMaxDataBlockSize},
        // 2147483647 less the tables is 65505 full blocks and 32402 bytes: 32387 of data.
        {kMaxCabinetBytes, 65505 * uint64_t(kMaxDataBlockSize) + 32387},
    };
    for (const auto& c : cases) {
        const uint64_t limit = FolderLimit(c.partBytes);
        EXPECT_EQ(limit, c.limit) << c.partBytes;
        if (limit == 0)
            continue;
        // The largest that fits: one byte more does not.
        EXPECT_LE(WorstCompressedSize(limit) + kOneFileTablesBytes, c.partBytes);
        EXPECT_GT(WorstCompressedSize(limit + 1) + kOneFileTablesBytes, c.partBytes);
    }
}

TEST(SetSplit, FoldersFilledInOrder) {
    const uint64_t part = kMinPartBytes + 2 * (kMaxDataBlockSize + kWorstBlockGrowth);
    const uint64_t full = FolderLimit(part);
    const struct {
        std::vector<uint64_t> sizes;
        std::vector<size_t> folders;
    } cases[] = {
        {{full / 2, full / 2, 1}, {0, 0, 1}},
        {{full, 0}, {0, 0}}, // an empty file joins a full folder
        {{10, full, 10}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        std::vector<FileCost> files;
        for (uint64_t size : c.sizes)
            files.push_back({size, 20});
        std::vector<size_t> folders;
        size_t tooBig = 99;
        EXPECT_TRUE(AssignFolders(files, part, &folders, &tooBig));
        EXPECT_EQ(folders, c.folders) << testing::PrintToString(c.sizes);
    }
    // Entries count too: 121 empty files of the longest name fill the tables of a smallest part.
    std::vector<FileCost> names(130, {0, kCffileSizeof + kMaxNameBytes + 1});
    std::vector<size_t> folders;
    size_t tooBig = 99;
    ASSERT_TRUE(AssignFolders(names, kMinPartBytes, &folders, &tooBig));
    EXPECT_EQ(folders[120], 0u);
    EXPECT_EQ(folders[121], 1u);
    EXPECT_EQ(folders[129], 1u);
    // A file over the limit is tried in a folder of its own; one over a folder's capacity is
    // refused.
    ASSERT_TRUE(AssignFolders({{1, 20}, {full + 1, 20}, {1, 20}}, part, &folders, &tooBig));
    EXPECT_EQ(folders, (std::vector<size_t>{0, 1, 2}));
    EXPECT_FALSE(AssignFolders({{1, 20}, {kMaxFolderBytes + 1, 20}}, part, &folders, &tooBig));
    EXPECT_EQ(tooBig, 1u);
}

// Payloads large enough are cut for the stub's threads: about eight folders of whole files,
// never smaller than the kind's least, and an empty file still joins the folder before it.
TEST(SetSplit, FoldersSharedForThreads) {
    const uint64_t MiB = 1 << 20;
    const struct {
        uint64_t payload;
        CompressionKind kind;
        uint64_t share;
    } rules[] = {
        {kMinSharedPayload - 1, CompressionKind::Mszip, UINT64_MAX},
        {kMinSharedPayload, CompressionKind::Mszip, 1 * MiB},
        {96 * MiB, CompressionKind::Mszip, 12 * MiB},
        {96 * MiB + 1, CompressionKind::None, 12 * MiB + 1},
        {96 * MiB, CompressionKind::Lzx, 12 * MiB},
        {24 * MiB, CompressionKind::Lzx, 4 * MiB},
        {24 * MiB, CompressionKind::Mszip, 3 * MiB},
    };
    for (const auto& r : rules)
        EXPECT_EQ(SharedFolderBytes(r.payload, r.kind), r.share) << r.payload;

    const struct {
        std::vector<uint64_t> sizes;
        std::vector<size_t> folders;
    } cases[] = {
        {{400, 400, 400, 400}, {0, 0, 1, 1}},
        {{300, 600, 0, 300}, {0, 1, 1, 2}},
        {{400, 400, 0, 1}, {0, 0, 0, 1}},
        {{900, 10, 10}, {0, 1, 1}}, // a file over the share has a folder of its own
        {{10, 900}, {0, 1}},
    };
    for (const auto& c : cases) {
        std::vector<FileCost> files;
        for (uint64_t size : c.sizes)
            files.push_back({size, 20});
        std::vector<size_t> folders;
        size_t tooBig = 99;
        EXPECT_TRUE(
            AssignFolders(files, kMaxCabinetBytes, &folders, &tooBig, kWorstBlockGrowth, 800));
        EXPECT_EQ(folders, c.folders) << testing::PrintToString(c.sizes);
    }
}

TEST(SetSplit, FoldersPlacedGreedily) {
    // Cabinets of 1000 bytes for s.exe: 36 bytes of header, 8 a folder, 20 of entries a folder,
    // 7 for "s.exe" before the second, 9 for the next cabinet's name "s-2.cab" or "s-3.cab".
    const struct {
        std::vector<uint64_t> data;
        std::vector<size_t> cabinets;
    } cases[] = {
        {{400, 400}, {0, 0}},         {{400, 400, 400}, {0, 0, 1}},
        {{450, 455}, {0, 0}},        // 997 bytes: one cabinet, naming none
        {{450, 455, 10}, {0, 1, 1}}, // naming the next would make 1006: 455 moves on
        {{900, 900, 900}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        std::vector<FolderCost> folders;
        for (uint64_t d : c.data)
            folders.push_back({d, 20});
        std::vector<size_t> cabinets;
        PlaceFolders(folders, 1000, "s.exe", &cabinets);
        EXPECT_EQ(cabinets, c.cabinets) << testing::PrintToString(c.data);
    }
}

TEST(SetNames, NamesAndRefusals) {
    const struct {
        const char* installer;
        size_t cabinets;
        const char* second;  // SetCabinetName(installer, 1)
        const char* problem; // "" when the set can be named
    } cases[] = {
        {"Setup.EXE", 2, "Setup-2.cab", ""},
        {"installer", 2, "installer-2.cab", ""},
        {"caf\xc3\xa9.exe", 2, "caf\xc3\xa9-2.cab", "printable ASCII"},
        {"a*b.exe", 2, "a*b-2.cab", "printable ASCII"},
        {"..", 2, "..-2.cab", "printable ASCII"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetCabinetName(c.installer, 1), c.second);
        Problems problems;
        EXPECT_EQ(CheckSetNames(c.installer, c.cabinets, &problems), !*c.problem) << c.installer;
        EXPECT_NE(ErrorText(problems).find(c.problem), std::string::npos) << ErrorText(problems);
    }
    // 249 bytes of base: "-9.cab" ends at 255 bytes, "-10.cab" passes them.
    const std::string longName = std::string(249, 'n') + ".exe";
    Problems fits, over;
    EXPECT_TRUE(CheckSetNames(longName, 9, &fits));
    EXPECT_EQ(ErrorText(fits), "");
    EXPECT_FALSE(CheckSetNames(longName, 10, &over));
    EXPECT_NE(ErrorText(over).find("over the 255"), std::string::npos);
}

TEST(SetCheck, PartAgainstItsPlace) {
    CabInfo good;
    good.setId = 0x1234;
    good.cabinetIndex = 2;
    good.flags = kCabPrevCabinet;
    good.prevCabinet = "s-2.cab";
    good.cabinetSize = 500;
    PartExpectation e;
    e.prevName = "s-2.cab";
    e.setId = 0x1234;
    e.index = 2;
    e.inRecord = true;
    e.recorded = {500, 0xabc};
    const struct {
        const char* what;
        void (*mutate)(CabInfo*, uint64_t* size, uint32_t* crc, PartExpectation*);
        const char* problem; // "" when fine
    } cases[] = {
        {"good", [](CabInfo*, uint64_t*, uint32_t*, PartExpectation*) {}, ""},
        {"set ID", [](CabInfo* i, uint64_t*, uint32_t*, PartExpectation*) { i->setId = 7; },
         "set ID 0x0007, the set's is 0x1234"},
        {"index", [](CabInfo* i, uint64_t*, uint32_t*, PartExpectation*) { i->cabinetIndex = 3; },
         "cabinet number 3 where the set's cabinet 2 belongs"},
        {"previous",
         [](CabInfo* i, uint64_t*, uint32_t*, PartExpectation*) { i->prevCabinet = "s.exe"; },
         "names s.exe before it, not s-2.cab"},
        {"longer file",
         [](CabInfo*, uint64_t* s, uint32_t*, PartExpectation* x) { *s = x->recorded.size = 501; },
         "its header gives 500 bytes, the file holds 501"},
        {"record's size",
         [](CabInfo*, uint64_t*, uint32_t*, PartExpectation* x) { x->recorded.size = 499; },
         "500 bytes, the record's 499"},
        {"CRC", [](CabInfo*, uint64_t*, uint32_t* c, PartExpectation*) { *c = 0xabd; },
         "CRC-32C 0x00000abd does not match the record's 0x00000abc"},
        {"no record",
         [](CabInfo*, uint64_t*, uint32_t* c, PartExpectation* x) { *c = 1, x->inRecord = false; },
         ""},
    };
    for (const auto& c : cases) {
        CabInfo info = good;
        uint64_t size = 500;
        uint32_t crc = 0xabc;
        PartExpectation place = e;
        c.mutate(&info, &size, &crc, &place);
        Problems problems;
        CheckSetPart(info, size, crc, place, &problems);
        const std::vector<std::string> expected =
            *c.problem ? std::vector<std::string>{c.problem} : std::vector<std::string>();
        EXPECT_EQ(problems.errors, expected) << c.what;
        EXPECT_EQ(problems.warnings, std::vector<std::string>()) << c.what;
    }
}

TEST(SetWriter, FoldersInCabinetsReadBackWhole) {
    char tmpl[] = "/tmp/sfxpack-set.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    // Folders of 100000 bytes: a and b, c, d and e; a and b fill the first cabinet, the zeros of
    // d and e join c in the second.
    ASSERT_EQ(system(("cd " + dir + " && mkdir src && cd src && head -c 60000 /dev/urandom >a" +
                      " && head -c 40000 /dev/urandom >b && head -c 70000 /dev/urandom >c" +
                      " && head -c 100000 /dev/zero >d && touch e")
                         .c_str()),
              0);
    std::vector<SourceFile> files;
    Problems problems;
    ASSERT_TRUE(ScanFolder(dir + "/src", &files, &problems));
    SetRequest request;
    request.compression.kind = CompressionKind::Mszip; // the worst case planned below
    request.partBytes = WorstCompressedSize(100000) + kOneFileTablesBytes;
    ASSERT_EQ(FolderLimit(request.partBytes), 100000u);
    request.installerName = "s.exe";
    request.firstPath = dir + "/first.cab";
    request.folder = dir + "/";
    close(open(request.firstPath.c_str(), O_CREAT | O_WRONLY, 0600));
    WrittenSet set;
    Problems error;
    ASSERT_TRUE(WriteCabinetSet(files, TimePolicy(), request, nullptr, &set, &error))
        << ErrorText(error);
    ASSERT_EQ(set.later.size(), 1u);
    EXPECT_NE(set.setId, 0u);
    std::string layout;
    std::vector<std::string> paths = {request.firstPath, set.later[0].path};
    for (size_t k = 0; k < paths.size(); ++k) {
        Source src;
        ASSERT_TRUE(OpenSource(paths[k], &src, &error)) << ErrorText(error);
        CabInfo info;
        EXPECT_TRUE(ReadCabinet(src, &info, &problems));
        EXPECT_EQ(info.cabinetSize, src.size);
        EXPECT_LE(src.size, request.partBytes);
        CloseSource(&src);
        EXPECT_EQ(info.setId, set.setId);
        EXPECT_EQ(info.cabinetIndex, k);
        layout += info.prevCabinet + ">" + info.nextCabinet + ": ";
        for (const CabFile& f : info.files)
            layout +=
                f.name + std::to_string(f.folder) + "@" + std::to_string(f.folderOffset) + " ";
    }
    EXPECT_EQ(ErrorText(problems), "");
    EXPECT_EQ(layout, ">s-2.cab: a0@0 b0@60000 s.exe>: c0@0 d1@0 e1@100000 ");
    // Another reader follows the set from the first cabinet and extracts the same bytes.
    const std::string part = set.later[0].path;
    EXPECT_EQ(system(("cd " + dir + " && mv " + part + " s-2.cab && cabextract -q -d x first.cab" +
                      " && diff -r src x")
                         .c_str()),
              0);
    KeepTemp(&set.later[0]);
    EXPECT_EQ(system(("rm -rf " + dir).c_str()), 0);
}
