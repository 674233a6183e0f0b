#include "pe_image.h"

#include <cstdio>

#include "le.h"

constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kSectionEntrySize = 40;
constexpr size_t kSecurityDirectory = 4;

static std::string Hex(uint64_t v) {
    char buf[24];
    snprintf(buf, sizeof(buf), "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Reads the security directory of a PE32 optional header (224 bytes at opt) when present.
static void ReadCertificateDirectory(const uint8_t* opt, PeLayout* pe) {
    const uint32_t directories = ReadLe32(opt + 92);
    if (directories <= kSecurityDirectory)
        return;
    pe->certOffset = ReadLe32(opt + 96 + 8 * kSecurityDirectory);
    pe->certSize = ReadLe32(opt + 96 + 8 * kSecurityDirectory + 4);
}

// Computes the overlay offset from the section table at tableOffset, as the stub does but
// without its 32-bit wrap-around, which is reported instead.
static bool ReadSectionTable(const Source& src, uint64_t tableOffset, PeLayout* pe,
                             std::vector<std::string>* problems) {
    uint64_t end = 0;
    for (unsigned i = 0; i < pe->sectionCount; ++i) {
        uint8_t entry[kSectionEntrySize];
        if (!ReadAt(src, tableOffset + i * kSectionEntrySize, entry, sizeof(entry))) {
            problems->push_back("section table lies outside the file");
            return false;
        }
        const uint64_t candidate = uint64_t(ReadLe32(entry + 20)) + ReadLe32(entry + 16);
        if (candidate > end)
            end = candidate;
    }
    if (end > UINT32_MAX)
        problems->push_back("section data ends past 4 GiB (" + Hex(end) + ")");
    pe->overlayOffset = end;
    return true;
}

bool ReadPeLayout(const Source& src, PeLayout* pe, std::vector<std::string>* problems) {
    *pe = PeLayout();
    uint8_t dos[64];
    if (!ReadAt(src, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
        problems->push_back("not a Windows executable (no MZ header)");
        return false;
    }
    pe->ntOffset = ReadLe32(dos + 60);
    uint8_t nt[4 + kCoffHeaderSize + kPe32OptionalHeaderSize];
    if (!ReadAt(src, pe->ntOffset, nt, 4 + kCoffHeaderSize)) {
        problems->push_back("PE header at " + Hex(pe->ntOffset) + " lies outside the file");
        return false;
    }
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) {
        problems->push_back("no PE signature at " + Hex(pe->ntOffset));
        return false;
    }
    pe->machine = ReadLe16(nt + 4);
    pe->sectionCount = ReadLe16(nt + 6);
    pe->symbolTable = ReadLe32(nt + 12);
    pe->optionalHeaderSize = ReadLe16(nt + 20);
    if (pe->machine != kMachineI386)
        problems->push_back("not an i386 image (machine " + Hex(pe->machine) + ")");
    if (ReadAt(src, pe->ntOffset + 4 + kCoffHeaderSize, nt + 4 + kCoffHeaderSize, 2))
        pe->magic = ReadLe16(nt + 4 + kCoffHeaderSize);
    if (pe->magic != kPe32Magic)
        problems->push_back("not a PE32 image (optional header magic " + Hex(pe->magic) + ")");
    if (pe->optionalHeaderSize != kPe32OptionalHeaderSize)
        problems->push_back("optional header is " + std::to_string(pe->optionalHeaderSize) +
                            " bytes, not 224: the stub would misread its section table");
    else if (pe->magic == kPe32Magic && ReadAt(src, pe->ntOffset + 4 + kCoffHeaderSize,
                                               nt + 4 + kCoffHeaderSize, kPe32OptionalHeaderSize))
        ReadCertificateDirectory(nt + 4 + kCoffHeaderSize, pe);
    if (pe->sectionCount == 0) {
        problems->push_back("no sections");
        return false;
    }
    // Where the stub itself looks, whatever the optional header size says.
    return ReadSectionTable(
        src, uint64_t(pe->ntOffset) + 4 + kCoffHeaderSize + kPe32OptionalHeaderSize, pe, problems);
}

// Appends the symbol table problem: the linker writes it after the section data, where the
// stub expects its cabinet.
static void CheckStripped(const PeLayout& pe, std::vector<std::string>* problems) {
    if (pe.symbolTable != 0)
        problems->push_back("COFF symbol table at " + Hex(pe.symbolTable) +
                            ": the stub is not stripped (link it with -s or run strip)");
}

void CheckStubLayout(const PeLayout& pe, uint64_t fileSize, std::vector<std::string>* problems) {
    CheckStripped(pe, problems);
    if (pe.certSize != 0)
        problems->push_back("the stub is signed: sign the installer after packing instead");
    // An unstripped or signed stub has data after its sections too, already reported.
    if (fileSize > pe.overlayOffset && pe.symbolTable == 0 && pe.certSize == 0)
        problems->push_back("the stub already carries a payload (" +
                            std::to_string(fileSize - pe.overlayOffset) +
                            " bytes after its sections)");
    if (fileSize < pe.overlayOffset)
        problems->push_back("the stub is truncated: its sections end at " + Hex(pe.overlayOffset) +
                            ", past the end of the file");
}

bool LocateCabinet(const PeLayout& pe, uint64_t fileSize, CabinetPlace* place,
                   std::vector<std::string>* problems) {
    if (fileSize >= kMaxInstallerSize)
        problems->push_back(std::to_string(fileSize) + " bytes: over the 2 GiB limit");
    CheckStripped(pe, problems);
    place->offset = pe.overlayOffset;
    place->end = fileSize;
    place->maxPadding = 0;
    if (pe.certSize != 0) {
        const uint64_t certEnd = uint64_t(pe.certOffset) + pe.certSize;
        if (certEnd != fileSize)
            problems->push_back("certificate table (" + Hex(pe.certOffset) + ", " +
                                std::to_string(pe.certSize) + " bytes) does not end the file");
        else if (pe.certOffset < pe.overlayOffset)
            problems->push_back("certificate table at " + Hex(pe.certOffset) +
                                " lies before the end of the section data");
        else {
            place->end = pe.certOffset;
            place->maxPadding = kMaxCertificatePadding;
        }
    }
    if (place->offset >= place->end) {
        problems->push_back("no payload: nothing follows the section data at " +
                            Hex(pe.overlayOffset));
        return false;
    }
    return true;
}
