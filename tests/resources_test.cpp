// The compiled resources read back from the built program and compared with the design.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExA((ExeDir() + "\\..\\OrvantaSfx.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }

    std::string Resource(LPCWSTR type, int id, WORD language) {
        HRSRC found = FindResourceExW(module_, type, MAKEINTRESOURCEW(id), language);
        if (!found)
            return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return std::string(data, SizeofResource(module_, found));
    }

    HMODULE module_ = nullptr;
};

// Reads a DLGTEMPLATEEX the way the dialog manager does.
struct Reader {
    const std::string& data;
    size_t at = 0;
    uint16_t U16() {
        uint16_t v;
        memcpy(&v, data.data() + at, 2);
        at += 2;
        return v;
    }
    uint32_t U32() {
        uint32_t v;
        memcpy(&v, data.data() + at, 4);
        at += 4;
        return v;
    }
    int16_t S16() { return static_cast<int16_t>(U16()); }
    void Align() { at = (at + 3) & ~size_t(3); }
    // A string or an ordinal: ordinals come back as "#<n>".
    std::wstring SzOrOrd() {
        uint16_t first = U16();
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(U16());
        std::wstring s;
        for (uint16_t c = first; c; c = U16())
            s.push_back(static_cast<wchar_t>(c));
        return s;
    }
};

struct Item {
    int id;
    std::wstring cls, text;
    uint32_t style;
    int x, y, cx, cy;
};

TEST_F(ResourcesTest, DialogTemplateMatchesTheDesign) {
    const std::string dlg =
        Resource(MAKEINTRESOURCEW(5), 9, MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
    ASSERT_FALSE(dlg.empty()) << "dialog 9 in language 1036";
    Reader r{dlg};
    EXPECT_EQ(r.U16(), 1);      // version
    EXPECT_EQ(r.U16(), 0xFFFF); // signature
    EXPECT_EQ(r.U32(), 0u);     // help id
    EXPECT_EQ(r.U32(), 0u);     // extended style
    EXPECT_EQ(r.U32(), 0x80C0084Cu);
    const uint16_t count = r.U16();
    EXPECT_EQ(count, 8);
    EXPECT_EQ(r.S16(), 0);
    EXPECT_EQ(r.S16(), 0);
    EXPECT_EQ(r.S16(), 320);
    EXPECT_EQ(r.S16(), 143);
    EXPECT_EQ(r.SzOrOrd(), L""); // menu
    EXPECT_EQ(r.SzOrOrd(), L""); // class
    EXPECT_EQ(r.SzOrOrd(), L"Orvanta Archive Extractor");
    EXPECT_EQ(r.U16(), 8);       // points
    EXPECT_EQ(r.U16(), 400);     // weight
    EXPECT_EQ(dlg[r.at], 0);     // italic
    EXPECT_EQ(dlg[r.at + 1], 1); // character set
    r.at += 2;
    EXPECT_EQ(r.SzOrOrd(), L"MS Shell Dlg");

    const Item expected[] = {
        {-1, L"#130",
         L"Veuillez sélectionner le dossier où extraire les fichiers, puis cliquez sur "
         L"\"extraire\"",
         0x50020000, 7, 15, 306, 15},
        {1002, L"#129", L"", 0x50810880, 7, 34, 306, 14},
        {1003, L"#128", L"...", 0x50010000, 276, 50, 37, 14},
        {-1, L"#130", L"", 0x50000010, 54, 113, 259, 1},
        {-1, L"#130", L"Orvanta", 0x58020000, 7, 108, 42, 13},
        {2, L"#128", L"Annuler", 0x50010000, 264, 122, 49, 14},
        {1005, L"#128", L"Extraire", 0x50010000, 201, 122, 49, 14},
        {1004, L"#130", L"Progress ..", 0x50020000, 7, 70, 306, 15},
    };
    for (int i = 0; i < count && i < 8; ++i) {
        r.Align();
        EXPECT_EQ(r.U32(), 0u) << i; // help id
        EXPECT_EQ(r.U32(), 0u) << i; // extended style
        const uint32_t style = r.U32();
        const int x = r.S16(), y = r.S16(), cx = r.S16(), cy = r.S16();
        const int id = static_cast<int32_t>(r.U32());
        std::wstring cls = r.SzOrOrd();
        // Class names may be stored by name; map them to the predefined atoms.
        if (cls == L"BUTTON" || cls == L"Button")
            cls = L"#128";
        if (cls == L"EDIT" || cls == L"Edit")
            cls = L"#129";
        if (cls == L"STATIC" || cls == L"Static")
            cls = L"#130";
        const std::wstring text = r.SzOrOrd();
        const uint16_t extra = r.U16();
        r.at += extra;
        const Item& e = expected[i];
        EXPECT_EQ(id, e.id) << i;
        EXPECT_EQ(cls, e.cls) << i;
        EXPECT_TRUE(text == e.text) << "control " << i;
        EXPECT_EQ(style, e.style) << i;
        EXPECT_EQ(x, e.x) << i;
        EXPECT_EQ(y, e.y) << i;
        EXPECT_EQ(cx, e.cx) << i;
        EXPECT_EQ(cy, e.cy) << i;
    }
}

// The common controls of the stub's own processor: the loader refuses another's.
#ifdef _WIN64
constexpr const char kManifestArch[] = "processorArchitecture=\"amd64\"";
#else
constexpr const char kManifestArch[] = "processorArchitecture=\"x86\"";
#endif

TEST_F(ResourcesTest, ManifestAsksOnlyForCommonControlsSix) {
    const std::string manifest =
        Resource(MAKEINTRESOURCEW(24), 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_FALSE(manifest.empty());
    EXPECT_EQ(manifest.find("<?xml"), std::string::npos);
    EXPECT_EQ(
        manifest.rfind(
            "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">", 0),
        0u);
    for (const char* part :
         {"type=\"Win32\"", "name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"",
          kManifestArch, "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\""})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    for (const char* absent : {"trustInfo", "requestedExecutionLevel", "compatibility"})
        EXPECT_EQ(manifest.find(absent), std::string::npos) << absent;
    EXPECT_EQ(manifest.find("<dependency>"), manifest.rfind("<dependency>")); // exactly one
}

TEST_F(ResourcesTest, VersionBlockInFrench) {
    const std::string block =
        Resource(MAKEINTRESOURCEW(16), 1, MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
    ASSERT_FALSE(block.empty());
    std::vector<char> copy(block.begin(), block.end());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    struct Case {
        const wchar_t* key;
        const wchar_t* value;
    } cases[] = {
        {L"Comments", L"Orvanta Archive Self Extractor"},
        {L"FileDescription", L"Orvanta Archive Self Extractor ( SFX )"},
        {L"ProductName", L"Orvanta"},
    };
    for (const Case& c : cases) {
        wchar_t* value = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040C04B0\\") + c.key;
        ASSERT_TRUE(
            VerQueryValueW(copy.data(), path.c_str(), reinterpret_cast<void**>(&value), &size));
        EXPECT_STREQ(value, c.value);
    }
}

TEST_F(ResourcesTest, IconGroupHoldsThreeSizesIn256Colours) {
    const std::string group =
        Resource(MAKEINTRESOURCEW(14), 101, MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH));
    ASSERT_GE(group.size(), 6u + 3 * 14);
    Reader r{group};
    EXPECT_EQ(r.U16(), 0);
    EXPECT_EQ(r.U16(), 1);
    ASSERT_EQ(r.U16(), 3);
    const int sizes[] = {48, 32, 16};
    for (int i = 0; i < 3; ++i) {
        const unsigned char* e = reinterpret_cast<const unsigned char*>(group.data()) + 6 + 14 * i;
        EXPECT_EQ(e[0], sizes[i]);
        EXPECT_EQ(e[1], sizes[i]);
        EXPECT_EQ(e[2], 0); // 256 colours and more
        uint16_t bits, id;
        memcpy(&bits, e + 6, 2);
        memcpy(&id, e + 12, 2);
        EXPECT_EQ(bits, 8);
        EXPECT_EQ(id, i + 1);
        EXPECT_FALSE(
            Resource(MAKEINTRESOURCEW(3), id, MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH)).empty());
    }
}

} // namespace
