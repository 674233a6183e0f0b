// Unit tests of the branding readers on hostile input and of the section move; what Windows
// makes of a branded installer is tested under Wine by test_sfxpack.py.
#include <functional>
#include <gtest/gtest.h>

#include "fakes.h"
#include "branding/icon_file.h"
#include "le.h"
#include "pe/pe_rewrite.h"
#include "pe/resource_tree.h"
#include "branding/version_block.h"

constexpr size_t kResources = FakeDirectory(kResourceDirectory);
constexpr size_t kRelocations = FakeDirectory(kRelocationDirectory);

// A PE32 image with .text, .rsrc and .reloc sections of 0x200 raw bytes each at 0x1000,
// 0x2000 and 0x3000, its resource and relocation directories pointing at the last two.
static Bytes ThreeSections() {
    Bytes b = MakePe({{0x400, 0x200}, {0x600, 0x200}, {0x800, 0x200}}, 0xa00);
    Put32(&b, kFakeOpt + kOptSectionAlignment, 0x1000);
    Put32(&b, kFakeOpt + kOptFileAlignment, 0x200);
    for (uint32_t i = 0; i < 3; ++i) {
        Put32(&b, FakeSection(i) + kSectionVirtualSize, 0x200);
        Put32(&b, FakeSection(i) + kSectionVirtualAddress, 0x1000 * (i + 1));
        Put32(&b, FakeSection(i) + kSectionCharacteristics, kSectionInitializedData);
    }
    Put32(&b, kResources + kDirectoryRva, 0x2000), Put32(&b, kResources + kDirectorySize, 0x200);
    Put32(&b, kRelocations + kDirectoryRva, 0x3000);
    Put32(&b, kRelocations + kDirectorySize, 0x10);
    for (size_t i = 0; i < 0x200; ++i)
        b[0x800 + i] = static_cast<uint8_t>(i);
    return b;
}

static PeHeaders Headers(const Bytes& b) {
    PeHeaders h;
    Problems problems;
    EXPECT_TRUE(ReadPeHeaders(MemorySource(b.data(), b.size()), &h, &problems));
    return h;
}

TEST(PeRewrite, ResourcesGrowAndRelocationsMove) {
    Bytes image = ThreeSections();
    const PeHeaders h = Headers(image);
    size_t index = 0;
    Problems error;
    ASSERT_TRUE(FindResourceSection(h, &index, &error)) << ErrorText(error);
    ASSERT_TRUE(ReplaceSection(h, index, Bytes(0x1201, 7), &image, &error)) << ErrorText(error);
    EXPECT_EQ(image.size(), 0x1c00u); // 0x600 + 0x1400 of resources + 0x200 of relocations
    EXPECT_EQ(ReadLe32(&image[FakeSection(1) + kSectionVirtualSize]), 0x1201u);
    EXPECT_EQ(ReadLe32(&image[FakeSection(1) + kSectionRawSize]), 0x1400u);
    EXPECT_EQ(ReadLe32(&image[FakeSection(2) + kSectionVirtualAddress]), 0x4000u);
    EXPECT_EQ(ReadLe32(&image[FakeSection(2) + kSectionRawPointer]), 0x1a00u);
    EXPECT_EQ(ReadLe32(&image[kFakeOpt + kOptImageSize]), 0x5000u);
    // The initialized data grew by 0x1200.
    EXPECT_EQ(ReadLe32(&image[kFakeOpt + kOptInitializedDataSize]), 0x1200u);
    EXPECT_EQ(ReadLe32(&image[kResources + kDirectorySize]), 0x1201u);
    EXPECT_EQ(ReadLe32(&image[kRelocations + kDirectoryRva]), 0x4000u);
    EXPECT_EQ(image[0x1a00 + 0x1ff], 0xff); // the relocations, moved whole
}

TEST(PeRewrite, RefusesWhatCannotMove) {
    const struct {
        const char* what;
        std::function<void(Bytes*)> mutate;
        const char* expected;
    } cases[] = {
        {"no resources", [](Bytes* b) { Put32(b, kResources + kDirectorySize, 0); },
         "no resources"},
        {"mid-section", [](Bytes* b) { Put32(b, kResources + kDirectoryRva, 0x2010); },
         "does not start"},
        {"other follower", [](Bytes* b) { Put32(b, kRelocations + kDirectorySize, 0); },
         "cannot be moved"},
        {"directory after",
         [](Bytes* b) {
             Put32(b, FakeDirectory(1) + kDirectoryRva, 0x3008);
             Put32(b, FakeDirectory(1) + kDirectorySize, 8);
         },
         "data directory 1"},
    };
    for (const auto& c : cases) {
        Bytes b = ThreeSections();
        c.mutate(&b);
        size_t index = 0;
        Problems error;
        EXPECT_FALSE(FindResourceSection(Headers(b), &index, &error)) << c.what;
        EXPECT_NE(ErrorText(error).find(c.expected), std::string::npos)
            << c.what << ": " << ErrorText(error);
    }
}

// An image whose resource section holds list, built for it.
static Bytes WithResources(const std::vector<Resource>& list) {
    Bytes b = ThreeSections();
    const Bytes tree = BuildResourceSection(list, 0x2000);
    EXPECT_LE(tree.size(), 0x200u);
    std::copy(tree.begin(), tree.end(), b.begin() + 0x600);
    return b;
}

TEST(ResourceTree, NamesAndNumbersReadBackInDirectoryOrder) {
    std::vector<Resource> list;
    for (uint16_t type : {16, 3, 24}) {
        Resource r;
        r.type = NumberId(type), r.name = NumberId(1), r.language = NumberId(1036);
        r.data.assign(type, static_cast<uint8_t>(type));
        InsertResource(&list, r);
    }
    Resource named;
    named.type.isName = named.name.isName = true;
    named.type.name = u"MYTYPE", named.name.name = u"LOGO";
    named.language = NumberId(0), named.codePage = 1252, named.data = {1, 2, 3};
    InsertResource(&list, named);
    const Bytes b = WithResources(list);
    std::vector<Resource> back;
    Problems problems;
    ASSERT_TRUE(ReadResources(MemorySource(b.data(), b.size()), Headers(b), &back, &problems))
        << ErrorText(problems);
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[0].type.name + u"/" + back[0].name.name, u"MYTYPE/LOGO");
    EXPECT_EQ(back[0].codePage, 1252u);
    EXPECT_EQ(back[0].data, named.data);
    const std::vector<int> types = {back[1].type.number, back[2].type.number, back[3].type.number};
    EXPECT_EQ(types, (std::vector<int>{3, 16, 24}));
    EXPECT_EQ(back[3].data, Bytes(24, 24));
}

TEST(ResourceTree, HostileTrees) {
    const struct {
        const char* what;
        std::function<void(Bytes*)> mutate;
        const char* expected;
    } cases[] = {
        // Root entry 0 points back at the root: the walk ends at the language level.
        {"loop", [](Bytes* b) { Put32(b, 0x600 + 20, 0x80000000); }, "three levels"},
        {"directory outside", [](Bytes* b) { Put32(b, 0x600 + 20, 0x80001000); }, "outside"},
        {"count past section", [](Bytes* b) { Put16(b, 0x600 + 14, 0xffff); }, "outside"},
        {"data outside", [](Bytes* b) { Put32(b, 0x600 + 72, 0x9000); }, "outside the file"},
        {"id over 65535", [](Bytes* b) { Put32(b, 0x600 + 16, 0x10000); }, "over 65535"},
    };
    Resource r;
    r.type = NumberId(16), r.name = NumberId(1), r.language = NumberId(1036), r.data = {1};
    for (const auto& c : cases) {
        Bytes b = WithResources({r}); // root, type and name directories of one entry each
        c.mutate(&b);
        std::vector<Resource> back;
        Problems problems;
        EXPECT_FALSE(ReadResources(MemorySource(b.data(), b.size()), Headers(b), &back, &problems))
            << c.what;
        ASSERT_EQ(problems.errors.size(), 1u) << c.what;
        EXPECT_NE(problems.errors[0].find(c.expected), std::string::npos)
            << c.what << ": " << problems.errors[0];
    }
}

// A one-image .ico file holding image.
static Bytes Ico(const Bytes& image) {
    Bytes b(22);
    Put16(&b, 2, 1), Put16(&b, 4, 1), Put32(&b, 14, static_cast<uint32_t>(image.size()));
    Put32(&b, 18, 22);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

// A DIB icon image header of size x size pixels at bits per pixel, with room for n bytes.
static Bytes Dib(int32_t size, uint16_t bits, size_t n) {
    Bytes d(n);
    Put32(&d, 0, 40), Put32(&d, 4, static_cast<uint32_t>(size));
    Put32(&d, 8, static_cast<uint32_t>(2 * size)), Put16(&d, 12, 1), Put16(&d, 14, bits);
    return d;
}

static Bytes Png(uint32_t size) {
    Bytes p = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    p.resize(33);
    p[18] = static_cast<uint8_t>(size >> 8), p[19] = static_cast<uint8_t>(size);
    p[22] = static_cast<uint8_t>(size >> 8), p[23] = static_cast<uint8_t>(size);
    p[24] = 8, p[25] = 6;
    return p;
}

TEST(IconFile, ImagesAreCheckedAgainstTheirHeaders) {
    const Bytes png = Png(16);
    const uint8_t* pngStart = png.data();
    // 16x16 at 8 bits: header, 256 colours, 16 rows of 16 bytes and 16 mask rows of 4.
    const size_t dib8 = 40 + 1024 + 16 * 16 + 16 * 4;
    const struct {
        const char* what;
        Bytes file;
        const char* expected; // "" when accepted
    } cases[] = {
        {"8-bit DIB", Ico(Dib(16, 8, dib8)), ""},
        {"PNG", Ico(Png(256)), ""},
        {"DIB short of its mask", Ico(Dib(16, 8, dib8 - 1)), "header needs"},
        {"depth", Ico(Dib(16, 7, dib8)), "7 bits per pixel"},
        {"257 pixels", Ico(Png(257)), "1 to 256 pixels"},
        {"neither", Ico(Bytes(60, 'x')), "neither a PNG nor"},
        {"PNG header cut", Ico(Bytes(pngStart, pngStart + 20)), "IHDR"},
    };
    for (const auto& c : cases) {
        std::vector<IconImage> images;
        Problems error;
        const bool ok = ParseIconFile(c.file.data(), c.file.size(), &images, &error);
        EXPECT_EQ(ok, !*c.expected) << c.what << ": " << ErrorText(error);
        EXPECT_NE(ErrorText(error).find(c.expected), std::string::npos)
            << c.what << ": " << ErrorText(error);
    }
    Bytes file = Ico(Dib(16, 8, dib8));
    Put32(&file, 18, 10); // the image would overlap the directory
    std::vector<IconImage> images;
    Problems error;
    EXPECT_FALSE(ParseIconFile(file.data(), file.size(), &images, &error));
}

TEST(VersionBlock, SettingsAndHostileBlocks) {
    const std::pair<VersionSetting, bool> settings[] = {
        {{"FileVersion", "01.2.3.65535"}, true},
        {{"ProductVersion", "1.2.3"}, false},
        {{"FileVersion", "1.2.3.4.5"}, false},
        {{"FileVersion", "1..3.4"}, false},
        {{"FileVersion", "1.2.3.65536"}, false},
        {{"FileVersion", "1.2.3.-4"}, false},
        {{"ProductName", ""}, true},
        {{"ProductName", "caf\xe9"}, false},
        {{"productname", "x"}, false},
    };
    for (const auto& s : settings) {
        Problems problems;
        EXPECT_EQ(CheckVersionSetting(s.first, &problems), s.second) << s.first.value;
        EXPECT_EQ(problems.errors.size(), s.second ? 0u : 1u) << s.first.value;
    }

    // A block with one string table of one string.
    VersionNode root, info, table, string;
    root.key = u"VS_VERSION_INFO", info.key = u"StringFileInfo", table.key = u"040C04B0";
    string.key = u"ProductName", string.type = 1, string.valueLength = 2,
    string.value = {'A', 0, 0, 0};
    table.children = {string}, info.children = {table}, root.children = {info};
    Bytes block;
    Problems error;
    ASSERT_TRUE(SerializeVersionBlock(root, &block, &error)) << ErrorText(error);
    VersionNode back;
    ASSERT_TRUE(ParseVersionBlock(block, &back, &error)) << ErrorText(error);
    ASSERT_EQ(back.children.size(), 1u);
    EXPECT_EQ(back.children[0].children[0].children[0].value, string.value);
    const std::function<void(Bytes*)> hostile[] = {
        [](Bytes* b) { Put16(b, 0, static_cast<uint16_t>(b->size() + 4)); },
        [](Bytes* b) { Put16(b, 0, 5); },
        [](Bytes* b) { b->resize(20), Put16(b, 0, 20); }, // the key never ends
        [](Bytes* b) { Put16(b, 40, 0x7000); },           // a child larger than its parent
    };
    for (const auto& mutate : hostile) {
        Bytes b = block;
        mutate(&b);
        EXPECT_FALSE(ParseVersionBlock(b, &back, &error)) << b.size();
    }
}
