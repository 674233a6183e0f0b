#include "pe/pe_image.h"

#include <cstdio>

#include "cab/cab_reader.h"
#include "le.h"
#include "util/hex.h"

// What each supported format fixes: the header size the stub relies on and where the
// optional header keeps its data directories.
struct PeFormat {
    uint16_t machine, magic, optionalHeaderSize;
    size_t directoryCount; // offset of NumberOfRvaAndSizes
    size_t directories;    // offset of data directory 0
    const char* arch;
};
static const PeFormat kFormats[] = {
    {kMachineI386, kPe32Magic, kPe32OptionalHeaderSize, kOpt32DirectoryCount, kOpt32Directories,
     "x86"},
    {kMachineAmd64, kPe32PlusMagic, kPe32PlusOptionalHeaderSize, kOpt64DirectoryCount,
     kOpt64Directories, "x64"},
};

// Reads the security directory of an optional header of format f at opt when present.
static void ReadCertificateDirectory(const PeFormat& f, const uint8_t* opt, PeLayout* pe) {
    const uint32_t directories = ReadLe32(opt + f.directoryCount);
    if (directories <= kSecurityDirectory)
        return;
    const uint8_t* entry = opt + f.directories + kDirectoryEntrySize * kSecurityDirectory;
    pe->certOffset = ReadLe32(entry + kDirectoryRva);
    pe->certSize = ReadLe32(entry + kDirectorySize);
}

// Computes the overlay offset from the section table at tableOffset, as the stub does but
// without its 32-bit wrap-around, which is reported instead.
static bool ReadSectionTable(const Source& src, uint64_t tableOffset, PeLayout* pe,
                             Problems* problems) {
    uint64_t end = 0;
    for (unsigned i = 0; i < pe->sectionCount; ++i) {
        uint8_t entry[kSectionEntrySize];
        if (!ReadAt(src, tableOffset + i * kSectionEntrySize, entry, sizeof(entry))) {
            Fail(problems, "section table lies outside the file");
            return false;
        }
        const uint64_t candidate =
            uint64_t(ReadLe32(entry + kSectionRawPointer)) + ReadLe32(entry + kSectionRawSize);
        if (candidate > end)
            end = candidate;
    }
    if (end > UINT32_MAX)
        Fail(problems, "section data ends past 4 GiB (" + Hex(end) + ")");
    pe->overlayOffset = end;
    return true;
}

// Checks machine, magic and optional header size against the supported formats; reads the
// certificate directory of a good one. Appends what differs; false when the header of a
// known format is cut short by the end of the file.
static bool CheckFormat(const Source& src, PeLayout* pe, Problems* problems) {
    const PeFormat* f = nullptr;
    for (const PeFormat& candidate : kFormats)
        if (candidate.machine == pe->machine)
            f = &candidate;
    if (!f) {
        Fail(problems, "machine " + Hex(pe->machine) +
                           " is neither i386 (x86) nor x86-64 (x64): no stub for it");
        return true;
    }
    const char* format = f->magic == kPe32Magic ? "PE32" : "PE32+";
    if (pe->magic != f->magic) {
        Fail(problems, std::string(f->arch) + " image is not " + format +
                           " (optional header magic " + Hex(pe->magic) + ")");
        return true;
    }
    if (pe->optionalHeaderSize != f->optionalHeaderSize) {
        Fail(problems, "optional header is " + std::to_string(pe->optionalHeaderSize) +
                           " bytes, not " + std::to_string(f->optionalHeaderSize) + " as in " +
                           format + ": the stub would misread its section table");
        return true;
    }
    uint8_t opt[kPe32PlusOptionalHeaderSize];
    if (!ReadAt(src, uint64_t(pe->ntOffset) + kNtOptionalHeader, opt, f->optionalHeaderSize)) {
        Fail(problems, "optional header lies outside the file");
        return false;
    }
    ReadCertificateDirectory(*f, opt, pe);
    pe->arch = f->arch;
    return true;
}

bool ReadPeLayout(const Source& src, PeLayout* pe, Problems* problems) {
    *pe = PeLayout();
    uint8_t dos[kDosHeaderSize];
    if (!ReadAt(src, 0, dos, sizeof(dos)) || dos[0] != 'M' || dos[1] != 'Z') {
        Fail(problems, "not a Windows executable (no MZ header)");
        return false;
    }
    pe->ntOffset = ReadLe32(dos + kDosNtOffset);
    uint8_t nt[kNtOptionalHeader + 2]; // through the optional header's magic
    if (!ReadAt(src, pe->ntOffset, nt, kNtOptionalHeader)) {
        Fail(problems, "PE header at " + Hex(pe->ntOffset) + " lies outside the file");
        return false;
    }
    if (nt[0] != 'P' || nt[1] != 'E' || nt[2] != 0 || nt[3] != 0) {
        Fail(problems, "no PE signature at " + Hex(pe->ntOffset));
        return false;
    }
    const uint8_t* coff = nt + kPeSignatureSize;
    pe->machine = ReadLe16(coff + kCoffMachine);
    pe->sectionCount = ReadLe16(coff + kCoffSectionCount);
    pe->symbolTable = ReadLe32(coff + kCoffSymbolTable);
    pe->optionalHeaderSize = ReadLe16(coff + kCoffOptionalHeaderSize);
    uint8_t* opt = nt + kNtOptionalHeader;
    if (ReadAt(src, uint64_t(pe->ntOffset) + kNtOptionalHeader + kOptMagic, opt + kOptMagic, 2))
        pe->magic = ReadLe16(opt + kOptMagic);
    if (!CheckFormat(src, pe, problems))
        return false;
    if (pe->sectionCount == 0) {
        Fail(problems, "no sections");
        return false;
    }
    // Where the stub itself looks: behind the optional header, as large as the header says.
    return ReadSectionTable(
        src, uint64_t(pe->ntOffset) + kNtOptionalHeader + pe->optionalHeaderSize, pe, problems);
}

// Appends the symbol table problem: the linker writes it after the section data, where the
// stub expects its cabinet.
static void CheckStripped(const PeLayout& pe, Problems* problems) {
    if (pe.symbolTable != 0)
        Fail(problems, "COFF symbol table at " + Hex(pe.symbolTable) +
                           ": the stub is not stripped (link it with -s or run strip)");
}

void CheckStubLayout(const PeLayout& pe, uint64_t fileSize, Problems* problems) {
    CheckStripped(pe, problems);
    if (pe.certSize != 0)
        Fail(problems, "the stub is signed: sign the installer after packing instead");
    // An unstripped or signed stub has data after its sections too, already reported.
    if (fileSize > pe.overlayOffset && pe.symbolTable == 0 && pe.certSize == 0)
        Fail(problems, "the stub already carries a payload (" +
                           std::to_string(fileSize - pe.overlayOffset) +
                           " bytes after its sections)");
    if (fileSize < pe.overlayOffset)
        Fail(problems, "the stub is truncated: its sections end at " + Hex(pe.overlayOffset) +
                           ", past the end of the file");
}

bool LocateCabinet(const PeLayout& pe, uint64_t fileSize, CabinetPlace* place, Problems* problems) {
    // The installer itself may pass 2 GiB by the stub's size; its cabinet may not.
    if (fileSize > pe.overlayOffset && fileSize - pe.overlayOffset > kMaxCabinetBytes)
        Fail(problems, std::to_string(fileSize - pe.overlayOffset) +
                           " bytes after the sections: over the " +
                           std::to_string(kMaxCabinetBytes) + " bytes one cabinet may have");
    CheckStripped(pe, problems);
    place->offset = pe.overlayOffset;
    place->end = fileSize;
    place->maxPadding = 0;
    if (pe.certSize != 0) {
        const uint64_t certEnd = uint64_t(pe.certOffset) + pe.certSize;
        if (certEnd != fileSize)
            Fail(problems, "certificate table (" + Hex(pe.certOffset) + ", " +
                               std::to_string(pe.certSize) + " bytes) does not end the file");
        else if (pe.certOffset < pe.overlayOffset)
            Fail(problems, "certificate table at " + Hex(pe.certOffset) +
                               " lies before the end of the section data");
        else {
            place->end = pe.certOffset;
            place->maxPadding = kMaxCertificatePadding;
        }
    }
    if (place->offset >= place->end) {
        Fail(problems, "no payload: nothing follows the section data at " + Hex(pe.overlayOffset));
        return false;
    }
    return true;
}
