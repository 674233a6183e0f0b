#include "pe/pe_rewrite.h"

#include <cstring>

#include "le.h"

static bool IsPowerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// v rounded up to a multiple of alignment (a power of two).
static uint64_t AlignUp(uint64_t v, uint32_t alignment) {
    return (v + alignment - 1) & ~uint64_t(alignment - 1);
}

// How far a section reaches in memory: its virtual size, or its raw size when that is 0.
static uint32_t Extent(const PeSection& s) {
    return s.virtualSize ? s.virtualSize : s.rawSize;
}

bool ReadPeHeaders(const Source& src, PeHeaders* h, Problems* problems) {
    *h = PeHeaders();
    const size_t before = problems->errors.size();
    if (!ReadPeLayout(src, &h->layout, problems) || problems->errors.size() != before ||
        !h->layout.arch)
        return false;
    const PeLayout& pe = h->layout;
    h->optionalOffset = uint64_t(pe.ntOffset) + kNtOptionalHeader;
    h->sectionTableOffset = h->optionalOffset + pe.optionalHeaderSize;
    uint8_t opt[kPe32PlusOptionalHeaderSize];
    if (!ReadAt(src, h->optionalOffset, opt, pe.optionalHeaderSize)) {
        Fail(problems, "optional header lies outside the file");
        return false;
    }
    h->sectionAlignment = ReadLe32(opt + kOptSectionAlignment);
    h->fileAlignment = ReadLe32(opt + kOptFileAlignment);
    if (!IsPowerOfTwo(h->fileAlignment) || !IsPowerOfTwo(h->sectionAlignment) ||
        h->sectionAlignment < h->fileAlignment) {
        Fail(problems, "section and file alignments (" + std::to_string(h->sectionAlignment) +
                           ", " + std::to_string(h->fileAlignment) + ") are not powers of two");
        return false;
    }
    const bool pe32 = pe.magic == kPe32Magic;
    const uint32_t count = ReadLe32(opt + (pe32 ? kOpt32DirectoryCount : kOpt64DirectoryCount));
    const size_t directories = pe32 ? kOpt32Directories : kOpt64Directories;
    h->directoryCount = count < kMaxDirectories ? count : kMaxDirectories;
    h->directoryOffset = h->optionalOffset + directories;
    for (unsigned i = 0; i < h->directoryCount; ++i) {
        const uint8_t* entry = opt + directories + kDirectoryEntrySize * i;
        h->directories[i].rva = ReadLe32(entry + kDirectoryRva);
        h->directories[i].size = ReadLe32(entry + kDirectorySize);
    }
    for (unsigned i = 0; i < pe.sectionCount; ++i) {
        uint8_t e[kSectionEntrySize];
        if (!ReadAt(src, h->sectionTableOffset + i * kSectionEntrySize, e, sizeof(e))) {
            Fail(problems, "section table lies outside the file");
            return false;
        }
        PeSection s;
        const char* name = reinterpret_cast<const char*>(e + kSectionName);
        s.name.assign(name, strnlen(name, kSectionNameSize));
        s.virtualSize = ReadLe32(e + kSectionVirtualSize);
        s.virtualAddress = ReadLe32(e + kSectionVirtualAddress);
        s.rawSize = ReadLe32(e + kSectionRawSize);
        s.rawPointer = ReadLe32(e + kSectionRawPointer);
        s.characteristics = ReadLe32(e + kSectionCharacteristics);
        h->sections.push_back(s);
    }
    return true;
}

bool RvaToOffset(const PeHeaders& h, uint32_t rva, uint32_t n, uint64_t* offset) {
    for (const PeSection& s : h.sections) {
        if (rva < s.virtualAddress)
            continue;
        const uint64_t at = uint64_t(rva) - s.virtualAddress;
        if (at + n <= s.rawSize && at + n <= Extent(s)) {
            *offset = s.rawPointer + at;
            return true;
        }
    }
    return false;
}

// The index of the section whose address is rva, or sections.size().
static size_t SectionAt(const PeHeaders& h, uint32_t rva) {
    for (size_t i = 0; i < h.sections.size(); ++i)
        if (h.sections[i].virtualAddress == rva)
            return i;
    return h.sections.size();
}

// Checks that the sections after r are the base relocation table alone, in file and address
// order, and that no directory but the resources' and the relocations' (when they follow the
// resources) points into or past r.
static bool CheckFollowers(const PeHeaders& h, size_t r, Problems* problems) {
    const PeSection& rs = h.sections[r];
    const bool hasRelocations =
        h.directoryCount > kRelocationDirectory && h.directories[kRelocationDirectory].size != 0;
    const size_t relocations =
        hasRelocations ? SectionAt(h, h.directories[kRelocationDirectory].rva) : h.sections.size();
    for (size_t i = 0; i < h.sections.size(); ++i) {
        const PeSection& s = h.sections[i];
        const bool after = s.virtualAddress > rs.virtualAddress;
        if (after != (i > r)) {
            Fail(problems, "the sections are not in address order");
            return false;
        }
        if (after && i != relocations) {
            Fail(problems, "section " + s.name + " follows the resources and cannot be moved");
            return false;
        }
        if (after && (s.rawSize == 0 || s.rawPointer < rs.rawPointer + rs.rawSize ||
                      h.directories[kRelocationDirectory].size > Extent(s))) {
            Fail(problems, "the base relocation section is not laid out after the resources");
            return false;
        }
    }
    for (unsigned d = 0; d < h.directoryCount; ++d) {
        const PeDirectory& dir = h.directories[d];
        const bool movesAlong =
            d == kRelocationDirectory && dir.rva >= uint64_t(rs.virtualAddress) + Extent(rs);
        if (d != kResourceDirectory && d != kSecurityDirectory && !movesAlong && dir.size != 0 &&
            dir.rva >= rs.virtualAddress) {
            Fail(problems,
                 "data directory " + std::to_string(d) + " lies in or after the resources");
            return false;
        }
    }
    return true;
}

bool FindResourceSection(const PeHeaders& h, size_t* index, Problems* problems) {
    if (h.directoryCount <= kResourceDirectory || h.directories[kResourceDirectory].size == 0) {
        Fail(problems, "no resources to replace");
        return false;
    }
    const size_t r = SectionAt(h, h.directories[kResourceDirectory].rva);
    if (r == h.sections.size() || h.sections[r].rawSize == 0) {
        Fail(problems, "the resource tree does not start a section of its own");
        return false;
    }
    if (!CheckFollowers(h, r, problems))
        return false;
    *index = r;
    return true;
}

uint64_t ChecksumOffset(const PeHeaders& h) {
    return h.optionalOffset + kOptChecksum;
}

bool ReplaceSection(const PeHeaders& h, size_t index, const std::vector<uint8_t>& rsrc,
                    std::vector<uint8_t>* image, Problems* problems) {
    const std::vector<uint8_t>& old = *image;
    for (size_t i = index; i < h.sections.size(); ++i)
        if (uint64_t(h.sections[i].rawPointer) + h.sections[i].rawSize > old.size()) {
            Fail(problems, "section " + h.sections[i].name + " lies outside the stub");
            return false;
        }
    std::vector<PeSection> sections = h.sections;
    PeSection& rs = sections[index];
    std::vector<uint8_t> out(old.begin(), old.begin() + rs.rawPointer);
    const uint64_t rawSize = AlignUp(rsrc.size(), h.fileAlignment);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    out.resize(rs.rawPointer + rawSize);
    const uint32_t oldRawSize = rs.rawSize;
    rs.virtualSize = static_cast<uint32_t>(rsrc.size());
    rs.rawSize = static_cast<uint32_t>(rawSize);
    PeDirectory relocations = h.directories[kRelocationDirectory];
    uint64_t address = AlignUp(uint64_t(rs.virtualAddress) + rs.virtualSize, h.sectionAlignment);
    for (size_t i = index + 1; i < sections.size(); ++i) {
        PeSection& s = sections[i];
        out.insert(out.end(), old.begin() + s.rawPointer, old.begin() + s.rawPointer + s.rawSize);
        if (relocations.rva == s.virtualAddress)
            relocations.rva = static_cast<uint32_t>(address);
        s.rawPointer = static_cast<uint32_t>(out.size() - s.rawSize);
        s.virtualAddress = static_cast<uint32_t>(address);
        address = AlignUp(address + Extent(s), h.sectionAlignment);
    }
    if (out.size() >= kMaxInstallerSize || address > UINT32_MAX) {
        Fail(problems, "the resources would make the stub too large");
        return false;
    }
    uint8_t* opt = out.data() + h.optionalOffset;
    WriteLe32(opt + kOptImageSize, static_cast<uint32_t>(address));
    if (rs.characteristics & kSectionInitializedData)
        WriteLe32(opt + kOptInitializedDataSize,
                  ReadLe32(opt + kOptInitializedDataSize) + rs.rawSize - oldRawSize);
    uint8_t* directories = out.data() + h.directoryOffset;
    WriteLe32(directories + kDirectoryEntrySize * kResourceDirectory + kDirectorySize,
              rs.virtualSize);
    if (h.directoryCount > kRelocationDirectory)
        WriteLe32(directories + kDirectoryEntrySize * kRelocationDirectory + kDirectoryRva,
                  relocations.rva);
    for (size_t i = index; i < sections.size(); ++i) {
        uint8_t* e = out.data() + h.sectionTableOffset + i * kSectionEntrySize;
        WriteLe32(e + kSectionVirtualSize, sections[i].virtualSize);
        WriteLe32(e + kSectionVirtualAddress, sections[i].virtualAddress);
        WriteLe32(e + kSectionRawSize, sections[i].rawSize);
        WriteLe32(e + kSectionRawPointer, sections[i].rawPointer);
    }
    image->swap(out);
    return true;
}

uint32_t ChecksumAdd(uint32_t sum, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i += 2) {
        sum += i + 1 < n ? ReadLe16(p + i) : p[i];
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return sum;
}

uint32_t ChecksumFinish(uint32_t sum, uint64_t fileSize) {
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + fileSize);
}
