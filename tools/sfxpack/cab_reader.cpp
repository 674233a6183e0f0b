#include "cab_reader.h"

#include <cstring>

#include "le.h"

constexpr size_t kMaxCabString = 256; // a name and its terminator

// Reads the NUL-terminated string at *offset (at most kMaxCabString bytes with the NUL) and
// moves *offset past it. False when it is unterminated inside that bound or inside src.
static bool ReadCabString(const Source& src, uint64_t* offset, std::string* out) {
    if (*offset >= src.size)
        return false;
    char buf[kMaxCabString];
    const uint64_t left = src.size - *offset;
    const size_t n = left < sizeof(buf) ? static_cast<size_t>(left) : sizeof(buf);
    if (!ReadAt(src, *offset, buf, n))
        return false;
    const void* nul = memchr(buf, 0, n);
    if (!nul)
        return false;
    out->assign(buf, static_cast<size_t>(static_cast<const char*>(nul) - buf));
    *offset += out->size() + 1;
    return true;
}

// Per-entry reserve sizes from the optional reserve header.
struct Reserve {
    uint32_t header = 0;
    uint32_t folder = 0;
    uint32_t data = 0;
};

// Reads the fixed header, the reserve sizes and the neighbouring cabinet names; *offset ends
// at the first folder entry. False with a problem appended when any of it is unreadable.
static bool ReadHeader(const Source& src, CabInfo* info, Reserve* reserve, uint64_t* offset,
                       uint32_t* filesOffset, uint16_t* folderCount, uint16_t* fileCount,
                       std::vector<std::string>* problems) {
    uint8_t h[kCabHeaderSize];
    if (!ReadAt(src, 0, h, sizeof(h)) || h[0] != 'M' || h[1] != 'S' || h[2] != 'C' || h[3] != 'F') {
        problems->push_back("not a cabinet (no MSCF signature)");
        return false;
    }
    info->cabinetSize = ReadLe32(h + 8);
    *filesOffset = ReadLe32(h + 16);
    *folderCount = ReadLe16(h + 26);
    *fileCount = ReadLe16(h + 28);
    info->flags = ReadLe16(h + 30);
    if (h[25] != 1) {
        problems->push_back("unsupported cabinet version " + std::to_string(h[25]) + "." +
                            std::to_string(h[24]));
        return false;
    }
    if (info->cabinetSize < kCabHeaderSize) {
        problems->push_back("cabinet size field (" + std::to_string(info->cabinetSize) +
                            ") is smaller than the header");
        return false;
    }
    if (info->cabinetSize > src.size) {
        problems->push_back("cabinet is truncated: its header gives " +
                            std::to_string(info->cabinetSize) + " bytes, only " +
                            std::to_string(src.size) + " are there");
        return false;
    }
    *offset = kCabHeaderSize;
    const Source cab = SubSource(src, 0, info->cabinetSize);
    if (info->flags & kCabReservePresent) {
        uint8_t r[4];
        if (!ReadAt(cab, *offset, r, sizeof(r))) {
            problems->push_back("reserve header lies outside the cabinet");
            return false;
        }
        reserve->header = ReadLe16(r);
        reserve->folder = r[2];
        reserve->data = r[3];
        *offset += 4 + reserve->header;
    }
    bool ok = true;
    if (info->flags & kCabPrevCabinet)
        ok = ReadCabString(cab, offset, &info->prevCabinet) &&
             ReadCabString(cab, offset, &info->prevDisk);
    if (ok && (info->flags & kCabNextCabinet))
        ok = ReadCabString(cab, offset, &info->nextCabinet) &&
             ReadCabString(cab, offset, &info->nextDisk);
    if (!ok)
        problems->push_back("unterminated neighbouring cabinet name in the header");
    return ok;
}

// Follows the data blocks of folder index, all of which must lie inside cab; sets *total to
// their uncompressed bytes. False with a problem appended when a block is out of bounds.
static bool WalkDataBlocks(const Source& cab, const CabFolder& folder, size_t index,
                           uint32_t dataReserve, uint64_t* total,
                           std::vector<std::string>* problems) {
    uint64_t offset = folder.dataOffset;
    *total = 0;
    for (unsigned b = 0; b < folder.dataBlocks; ++b) {
        uint8_t d[8];
        if (!ReadAt(cab, offset, d, sizeof(d))) {
            problems->push_back("folder " + std::to_string(index) + ": data block " +
                                std::to_string(b) + " lies outside the cabinet");
            return false;
        }
        const uint16_t packed = ReadLe16(d + 4);
        const uint16_t unpacked = ReadLe16(d + 6);
        offset += sizeof(d) + dataReserve + packed;
        if (offset > cab.size || unpacked > kMaxDataBlockSize) {
            problems->push_back("folder " + std::to_string(index) + ": data block " +
                                std::to_string(b) + " is out of bounds");
            return false;
        }
        *total += unpacked;
    }
    return true;
}

// Reads count folder entries from *offset on.
static bool ReadFolders(const Source& cab, uint16_t count, const Reserve& reserve, uint64_t* offset,
                        CabInfo* info, std::vector<std::string>* problems) {
    for (unsigned i = 0; i < count; ++i) {
        uint8_t f[8];
        if (!ReadAt(cab, *offset, f, sizeof(f))) {
            problems->push_back("folder table lies outside the cabinet");
            return false;
        }
        CabFolder folder;
        folder.dataOffset = ReadLe32(f);
        folder.dataBlocks = ReadLe16(f + 4);
        folder.compression = ReadLe16(f + 6);
        if ((folder.compression & 0xf) > 3)
            problems->push_back("folder " + std::to_string(i) + ": unknown compression " +
                                std::to_string(folder.compression & 0xf));
        info->folders.push_back(folder);
        *offset += sizeof(f) + reserve.folder;
    }
    return true;
}

// True when file index refers to a folder of this cabinet or, with the matching header flag,
// to a neighbouring one.
static bool FolderIndexValid(const CabInfo& info, uint16_t folder) {
    if (folder == kFolderContinuedFromPrev)
        return info.flags & kCabPrevCabinet;
    if (folder == kFolderContinuedToNext)
        return info.flags & kCabNextCabinet;
    if (folder == kFolderContinuedPrevAndNext)
        return (info.flags & kCabPrevCabinet) && (info.flags & kCabNextCabinet);
    return folder < info.folders.size();
}

// Reads count file entries from offset on.
static bool ReadFiles(const Source& cab, uint16_t count, uint64_t offset, CabInfo* info,
                      std::vector<std::string>* problems) {
    for (unsigned i = 0; i < count; ++i) {
        uint8_t e[16];
        CabFile file;
        if (!ReadAt(cab, offset, e, sizeof(e))) {
            problems->push_back("file table lies outside the cabinet");
            return false;
        }
        offset += sizeof(e);
        if (!ReadCabString(cab, &offset, &file.name)) {
            problems->push_back("file " + std::to_string(i) +
                                ": name unterminated within 255 bytes or the cabinet");
            return false;
        }
        file.size = ReadLe32(e);
        file.folderOffset = ReadLe32(e + 4);
        file.folder = ReadLe16(e + 8);
        file.date = ReadLe16(e + 10);
        file.time = ReadLe16(e + 12);
        file.attributes = ReadLe16(e + 14);
        if (!FolderIndexValid(*info, file.folder))
            problems->push_back("file " + std::to_string(i) + ": folder index " +
                                std::to_string(file.folder) + " does not exist");
        info->files.push_back(file);
    }
    return true;
}

// Checks that each file's data lies within the uncompressed data of its folder. The last
// folder of a cabinet continued in the next one is not complete here and is skipped.
static void CheckFileExtents(const CabInfo& info, const std::vector<uint64_t>& folderSizes,
                             std::vector<std::string>* problems) {
    for (size_t i = 0; i < info.files.size(); ++i) {
        const CabFile& f = info.files[i];
        if (f.folder >= folderSizes.size())
            continue;
        const bool continues =
            (info.flags & kCabNextCabinet) && f.folder + 1u == folderSizes.size();
        if (!continues && uint64_t(f.folderOffset) + f.size > folderSizes[f.folder])
            problems->push_back("file " + std::to_string(i) + ": data past the end of its folder");
    }
}

bool ReadCabinet(const Source& src, CabInfo* info, std::vector<std::string>* problems) {
    *info = CabInfo();
    Reserve reserve;
    uint64_t offset = 0;
    uint32_t filesOffset = 0;
    uint16_t folderCount = 0, fileCount = 0;
    if (!ReadHeader(src, info, &reserve, &offset, &filesOffset, &folderCount, &fileCount, problems))
        return false;
    const Source cab = SubSource(src, 0, info->cabinetSize);
    if (folderCount == 0 || fileCount == 0) {
        problems->push_back(folderCount == 0 ? "cabinet has no folder" : "cabinet has no file");
        return false;
    }
    if (!ReadFolders(cab, folderCount, reserve, &offset, info, problems))
        return false;
    if (filesOffset < offset) {
        problems->push_back("file table overlaps the header or folder table");
        return false;
    }
    if (!ReadFiles(cab, fileCount, filesOffset, info, problems))
        return false;
    // Each block takes at least its header: this bounds the walk by the cabinet's size even
    // when many folders claim the same blocks.
    uint64_t blocks = 0;
    for (const CabFolder& folder : info->folders)
        blocks += folder.dataBlocks;
    if (blocks * (8 + reserve.data) > info->cabinetSize) {
        problems->push_back("the folders claim " + std::to_string(blocks) +
                            " data blocks, more than the cabinet can hold");
        return false;
    }
    std::vector<uint64_t> folderSizes;
    for (size_t i = 0; i < info->folders.size(); ++i) {
        uint64_t total = 0;
        if (!WalkDataBlocks(cab, info->folders[i], i, reserve.data, &total, problems))
            return false;
        folderSizes.push_back(total);
    }
    CheckFileExtents(*info, folderSizes, problems);
    return true;
}
