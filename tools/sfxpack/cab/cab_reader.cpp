#include "cab/cab_reader.h"

#include <algorithm>
#include <cstring>

#include "le.h"

// Table entries and block headers are read through one window of this size, so that a
// cabinet of many small entries costs a read per window, not per entry.
constexpr size_t kWindowBytes = 8192;

// Bytes of a source read ahead in bulk: [start, start + bytes.size()).
struct Window {
    Source src;
    uint64_t start = 0;
    std::vector<uint8_t> bytes;
};

// The n bytes (n <= kWindowBytes) at offset of w's source, read with what follows when they
// lie outside the window. Null when they do not lie inside the source or the read fails.
// Valid until the next call.
static const uint8_t* WindowAt(Window* w, uint64_t offset, size_t n) {
    if (offset > w->src.size || n > w->src.size - offset || n > kWindowBytes)
        return nullptr;
    if (offset < w->start || offset - w->start + n > w->bytes.size()) {
        const uint64_t left = w->src.size - offset;
        w->bytes.resize(left < kWindowBytes ? static_cast<size_t>(left) : kWindowBytes);
        w->start = offset;
        if (!ReadAt(w->src, offset, w->bytes.data(), w->bytes.size())) {
            w->bytes.clear();
            return nullptr;
        }
    }
    return w->bytes.data() + (offset - w->start);
}

// Reads the NUL-terminated string at *offset (at most kMaxNameBytes bytes and the NUL) and
// moves *offset past it. False when it is unterminated inside that bound or inside w.
static bool ReadCabString(Window* w, uint64_t* offset, std::string* out) {
    if (*offset >= w->src.size)
        return false;
    const uint64_t left = w->src.size - *offset;
    const size_t n = left <= kMaxNameBytes ? static_cast<size_t>(left) : kMaxNameBytes + 1;
    const uint8_t* p = WindowAt(w, *offset, n);
    const void* nul = p ? memchr(p, 0, n) : nullptr;
    if (!nul)
        return false;
    out->assign(reinterpret_cast<const char*>(p),
                static_cast<size_t>(static_cast<const uint8_t*>(nul) - p));
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
                       Problems* problems) {
    uint8_t h[kCfheadSizeof];
    if (!ReadAt(src, 0, h, sizeof(h)) ||
        memcmp(h + kCfheadSignature, kCabSignature, kCabSignatureSize) != 0) {
        Fail(problems, "not a cabinet (no MSCF signature)");
        return false;
    }
    info->cabinetSize = ReadLe32(h + kCfheadCabinetSize);
    *filesOffset = ReadLe32(h + kCfheadFilesOffset);
    *folderCount = ReadLe16(h + kCfheadFolderCount);
    *fileCount = ReadLe16(h + kCfheadFileCount);
    info->flags = ReadLe16(h + kCfheadFlags);
    info->setId = ReadLe16(h + kCfheadSetId);
    info->cabinetIndex = ReadLe16(h + kCfheadCabinetIndex);
    if (h[kCfheadMajorVersion] != kCabMajorVersion) {
        Fail(problems, "unsupported cabinet version " + std::to_string(h[kCfheadMajorVersion]) +
                           "." + std::to_string(h[kCfheadMinorVersion]));
        return false;
    }
    if (info->cabinetSize < kCfheadSizeof) {
        Fail(problems, "cabinet size field (" + std::to_string(info->cabinetSize) +
                           ") is smaller than the header");
        return false;
    }
    if (info->cabinetSize > src.size) {
        Fail(problems, "cabinet is truncated: its header gives " +
                           std::to_string(info->cabinetSize) + " bytes, only " +
                           std::to_string(src.size) + " are there");
        return false;
    }
    *offset = kCfheadSizeof;
    Window cab;
    cab.src = SubSource(src, 0, info->cabinetSize);
    if (info->flags & kCabReservePresent) {
        const uint8_t* r = WindowAt(&cab, *offset, kCfheadextSizeof);
        if (!r) {
            Fail(problems, "reserve header lies outside the cabinet");
            return false;
        }
        reserve->header = ReadLe16(r + kCfheadextHeaderReserve);
        reserve->folder = r[kCfheadextFolderReserve];
        reserve->data = r[kCfheadextDataReserve];
        *offset += kCfheadextSizeof + reserve->header;
    }
    bool ok = true;
    if (info->flags & kCabPrevCabinet)
        ok = ReadCabString(&cab, offset, &info->prevCabinet) &&
             ReadCabString(&cab, offset, &info->prevDisk);
    if (ok && (info->flags & kCabNextCabinet))
        ok = ReadCabString(&cab, offset, &info->nextCabinet) &&
             ReadCabString(&cab, offset, &info->nextDisk);
    if (!ok)
        Fail(problems, "unterminated neighbouring cabinet name in the header");
    return ok;
}

// Reads count folder entries from *offset on.
static bool ReadFolders(Window* cab, uint16_t count, const Reserve& reserve, uint64_t* offset,
                        CabInfo* info, Problems* problems) {
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* f = WindowAt(cab, *offset, kCffoldSizeof);
        if (!f) {
            Fail(problems, "folder table lies outside the cabinet");
            return false;
        }
        CabFolder folder;
        folder.dataOffset = ReadLe32(f + kCffoldDataOffset);
        folder.dataBlocks = ReadLe16(f + kCffoldBlockCount);
        folder.compression = ReadLe16(f + kCffoldCompression);
        const uint16_t type = folder.compression & kCompressionTypeMask;
        if (type > kCompressionLzx)
            Fail(problems,
                 "folder " + std::to_string(i) + ": unknown compression " + std::to_string(type));
        info->folders.push_back(folder);
        *offset += kCffoldSizeof + reserve.folder;
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

// Reads count file entries from *offset on; *offset ends past the last name.
static bool ReadFiles(Window* cab, uint16_t count, uint64_t* offset, CabInfo* info,
                      Problems* problems) {
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* p = WindowAt(cab, *offset, kCffileSizeof);
        if (!p) {
            Fail(problems, "file table lies outside the cabinet");
            return false;
        }
        uint8_t e[kCffileSizeof];
        memcpy(e, p, sizeof(e));
        *offset += sizeof(e);
        CabFile file;
        if (!ReadCabString(cab, offset, &file.name)) {
            Fail(problems, "file " + std::to_string(i) +
                               ": name unterminated within 255 bytes or the cabinet");
            return false;
        }
        file.size = ReadLe32(e + kCffileUncompressedSize);
        file.folderOffset = ReadLe32(e + kCffileFolderOffset);
        file.folder = ReadLe16(e + kCffileFolderIndex);
        file.date = ReadLe16(e + kCffileDate);
        file.time = ReadLe16(e + kCffileTime);
        file.attributes = ReadLe16(e + kCffileAttributes);
        if (!FolderIndexValid(*info, file.folder))
            Fail(problems, "file " + std::to_string(i) + ": folder index " +
                               std::to_string(file.folder) + " does not exist");
        info->files.push_back(file);
    }
    return true;
}

// Follows the data blocks of folder index, which must lie inside the cabinet and end by
// limit (where the next folder's blocks start); sets *total to their uncompressed bytes.
// False with a problem appended otherwise.
static bool WalkDataBlocks(Window* cab, const CabFolder& folder, size_t index, uint64_t limit,
                           uint32_t dataReserve, uint64_t* total, Problems* problems) {
    uint64_t offset = folder.dataOffset;
    *total = 0;
    for (unsigned b = 0; b < folder.dataBlocks; ++b) {
        const uint8_t* d = WindowAt(cab, offset, kCfdataSizeof);
        if (!d) {
            Fail(problems, "folder " + std::to_string(index) + ": data block " + std::to_string(b) +
                               " lies outside the cabinet");
            return false;
        }
        const uint16_t packed = ReadLe16(d + kCfdataCompressedSize);
        const uint16_t unpacked = ReadLe16(d + kCfdataUncompressedSize);
        offset += kCfdataSizeof + dataReserve + packed;
        if (offset > cab->src.size || unpacked > kMaxDataBlockSize) {
            Fail(problems, "folder " + std::to_string(index) + ": data block " + std::to_string(b) +
                               " is out of bounds");
            return false;
        }
        if (offset > limit) {
            Fail(problems, "folder " + std::to_string(index) +
                               ": data blocks overlap those of another folder");
            return false;
        }
        *total += unpacked;
    }
    return true;
}

// Walks the data blocks of every folder in the order they lie in, so that no block is read
// twice: blocks must start after the tables (at tablesEnd) and no two folders may share one.
// Sets (*folderSizes)[i] to folder i's uncompressed bytes.
static bool WalkFolders(Window* cab, const CabInfo& info, uint64_t tablesEnd, uint32_t dataReserve,
                        std::vector<uint64_t>* folderSizes, Problems* problems) {
    std::vector<size_t> order;
    for (size_t i = 0; i < info.folders.size(); ++i) {
        if (info.folders[i].dataBlocks > 0)
            order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&info](size_t a, size_t b) {
        return info.folders[a].dataOffset < info.folders[b].dataOffset;
    });
    folderSizes->assign(info.folders.size(), 0);
    for (size_t k = 0; k < order.size(); ++k) {
        const CabFolder& folder = info.folders[order[k]];
        if (folder.dataOffset < tablesEnd) {
            Fail(problems, "folder " + std::to_string(order[k]) +
                               ": data blocks overlap the cabinet's tables");
            return false;
        }
        const uint64_t limit =
            k + 1 < order.size() ? info.folders[order[k + 1]].dataOffset : cab->src.size;
        if (!WalkDataBlocks(cab, folder, order[k], limit, dataReserve, &(*folderSizes)[order[k]],
                            problems))
            return false;
    }
    return true;
}

// Checks that each file's data lies within the uncompressed data of its folder. The last
// folder of a cabinet continued in the next one is not complete here and is skipped.
static void CheckFileExtents(const CabInfo& info, const std::vector<uint64_t>& folderSizes,
                             Problems* problems) {
    for (size_t i = 0; i < info.files.size(); ++i) {
        const CabFile& f = info.files[i];
        if (f.folder >= folderSizes.size())
            continue;
        const bool continues =
            (info.flags & kCabNextCabinet) && f.folder + 1u == folderSizes.size();
        if (!continues && uint64_t(f.folderOffset) + f.size > folderSizes[f.folder])
            Fail(problems, "file " + std::to_string(i) + ": data past the end of its folder");
    }
}

bool ReadCabinet(const Source& src, CabInfo* info, Problems* problems) {
    *info = CabInfo();
    Reserve reserve;
    uint64_t offset = 0;
    uint32_t filesOffset = 0;
    uint16_t folderCount = 0, fileCount = 0;
    if (!ReadHeader(src, info, &reserve, &offset, &filesOffset, &folderCount, &fileCount, problems))
        return false;
    Window cab;
    cab.src = SubSource(src, 0, info->cabinetSize);
    if (folderCount == 0 || fileCount == 0) {
        Fail(problems, folderCount == 0 ? "cabinet has no folder" : "cabinet has no file");
        return false;
    }
    if (!ReadFolders(&cab, folderCount, reserve, &offset, info, problems))
        return false;
    if (filesOffset < offset) {
        Fail(problems, "file table overlaps the header or folder table");
        return false;
    }
    uint64_t tablesEnd = filesOffset;
    if (!ReadFiles(&cab, fileCount, &tablesEnd, info, problems))
        return false;
    // Each block takes at least its header: a cheap bound before any block is read.
    uint64_t blocks = 0;
    for (const CabFolder& folder : info->folders)
        blocks += folder.dataBlocks;
    if (blocks * (kCfdataSizeof + reserve.data) > info->cabinetSize) {
        Fail(problems, "the folders claim " + std::to_string(blocks) +
                           " data blocks, more than the cabinet can hold");
        return false;
    }
    std::vector<uint64_t> folderSizes;
    if (!WalkFolders(&cab, *info, tablesEnd, reserve.data, &folderSizes, problems))
        return false;
    CheckFileExtents(*info, folderSizes, problems);
    return true;
}
