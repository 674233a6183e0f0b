// Writes the fuzzers' seeds: small cabinets, installers and names made here, one file each,
// into OUT/cab_reader, OUT/installer and OUT/names.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "fakes.h"

// Writes bytes to dir/name; false when it cannot.
static bool WriteSeed(const std::string& dir, const std::string& name, const Bytes& bytes) {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// A stored cabinet of two folders with a block each; Setup.exe is in the first.
static Bytes TwoFolderCab() {
    Bytes cab = MakeCab({{"Setup.exe", "hello", 0x20}});
    const size_t second = kFakeFolder + kCffoldSizeof;
    cab.insert(cab.begin() + second, cab.begin() + kFakeFolder, cab.begin() + second);
    Put16(&cab, kCfheadFolderCount, 2);
    Put32(&cab, kCfheadFilesOffset, kFakeFiles + kCffoldSizeof);
    Put32(&cab, kFakeFolder + kCffoldDataOffset,
          static_cast<uint32_t>(cab.size() - kCfdataSizeof - 5));
    Put32(&cab, second + kCffoldDataOffset, static_cast<uint32_t>(cab.size()));
    Bytes block(kCfdataSizeof);
    Put16(&block, kCfdataCompressedSize, 5), Put16(&block, kCfdataUncompressedSize, 5);
    block.insert(block.end(), {'w', 'o', 'r', 'l', 'd'});
    cab.insert(cab.end(), block.begin(), block.end());
    Put32(&cab, kCfheadCabinetSize, static_cast<uint32_t>(cab.size()));
    return cab;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_seeds OUT\n");
        return 2;
    }
    const std::string out = argv[1];
    for (const char* dir : {"", "/cab_reader", "/installer", "/names", "/lzx"})
        mkdir((out + dir).c_str(), 0777);
    const std::vector<std::vector<FakeEntry>> cabs = {
        {{"Setup.exe", "hello", 0x21}, {"sub\\caf\xc3\xa9.txt", "world!", 0xa0}},
        {{"StdSetup.exe", "", 0x20}},
        {{"a\\b\\c.txt", "abc", 0x20}, {"A\\B\\C.TXT", "ABC", 0x20}, {"nul.txt", "x", 0x20}},
    };
    bool ok = true;
    for (size_t i = 0; i <= cabs.size(); ++i) {
        const Bytes cab = i < cabs.size() ? MakeCab(cabs[i]) : TwoFolderCab();
        Bytes installer = MakePe({{0x200, 0x200}}, 0x400);
        installer.insert(installer.end(), cab.begin(), cab.end());
        ok = ok && WriteSeed(out + "/cab_reader", std::to_string(i), cab) &&
             WriteSeed(out + "/installer", std::to_string(i), installer);
    }
    const char* names[] = {"Setup.exe",  "a\\b/c.txt", "caf\xc3\xa9.txt", "..\\x",
                           "a\\.\\b",    "Con .txt",   "COM\xc2\xb9",     "lpt9.",
                           "Setup.exe.", "a \\b",      "a\\\\b",          "x?y",
                           "c:x",        "\\\\srv\\s", "\xd0\xb4\xd0\x94"};
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        const std::string name = names[i];
        ok = ok && WriteSeed(out + "/names", std::to_string(i), Bytes(name.begin(), name.end()));
    }
    // LZX: window, level, copies, split, then data (text, calls, a run, noise-like bytes).
    const std::string lzx[] = {
        std::string("\x06\x01\x03\x80") + "the frame of the folder of the cabinet, the window",
        std::string("\x00\x02\x1f\x10") + "\xe8\x10\x00\x00\x00\x90\xe8\xf0\xff\xff\xff\xc3",
        std::string("\x03\x00\x10\xff") + std::string(300, 'z'),
        std::string("\x05\x02\x00\x00") + "\x8f\x13\xa5\x02\x77\xe1\x5c\x39\xd0\x6b\x44",
    };
    for (size_t i = 0; i < sizeof(lzx) / sizeof(lzx[0]); ++i)
        ok = ok && WriteSeed(out + "/lzx", std::to_string(i), Bytes(lzx[i].begin(), lzx[i].end()));
    if (!ok)
        perror(("make_seeds: " + out).c_str());
    return ok ? 0 : 1;
}
