#include "cab_table.h"

#include <cstring>

#include "le.h"

namespace {

constexpr size_t kMaxNameWithTerminator = kMaxNameBytes + 1;

// The offset just past the terminated string at data[at], searched up to limit; 0 when the
// string is not terminated within max bytes (its terminator included) or before limit.
size_t PastString(const unsigned char* data, size_t at, size_t limit, size_t max) {
    for (size_t i = at; i < limit && i - at < max; ++i) {
        if (data[i] == '\0')
            return i + 1;
    }
    return 0;
}

} // namespace

CabTableResult ReadCabTable(const unsigned char* data, size_t size, CabTableHeader* header,
                            size_t* needed, CabTableVisit visit, void* context) {
    *needed = 0;
    if (size < kCfheadSizeof) {
        if (size >= kCabSignatureSize && memcmp(data, kCabSignature, kCabSignatureSize) != 0)
            return kTableNotCabinet;
        *needed = kCfheadSizeof;
        return kTableNeedMore;
    }
    if (memcmp(data + kCfheadSignature, kCabSignature, kCabSignatureSize) != 0)
        return kTableNotCabinet;
    header->cabinetSize = ReadLe32(data + kCfheadCabinetSize);
    header->flags = ReadLe16(data + kCfheadFlags);
    header->fileCount = ReadLe16(data + kCfheadFileCount);
    header->setId = ReadLe16(data + kCfheadSetId);
    header->cabinetIndex = ReadLe16(data + kCfheadCabinetIndex);
    header->nextName = nullptr;
    header->namesRead = false;
    const size_t cabinet = header->cabinetSize;
    const size_t filesOffset = ReadLe32(data + kCfheadFilesOffset);
    if (filesOffset < kCfheadSizeof + kCffoldSizeof * ReadLe16(data + kCfheadFolderCount) ||
        filesOffset >= cabinet)
        return kTableDamaged;

    // The optional reserve and the set's names lie between the fixed header and the file
    // table.
    const size_t limit = size < cabinet ? size : cabinet;
    const size_t namesLimit = limit < filesOffset ? limit : filesOffset;
    size_t at = kCfheadSizeof;
    if (header->flags & kCabReservePresent) {
        if (at + kCfheadextSizeof > filesOffset)
            return kTableDamaged;
        if (limit < at + kCfheadextSizeof) {
            *needed = at + kCfheadextSizeof;
            return kTableNeedMore;
        }
        at += kCfheadextSizeof + ReadLe16(data + at + kCfheadextHeaderReserve);
    }
    const int names =
        (header->flags & kCabPrevCabinet ? 2 : 0) + (header->flags & kCabNextCabinet ? 2 : 0);
    for (int i = 0; i < names; ++i) {
        const size_t end =
            at < namesLimit ? PastString(data, at, namesLimit, kMaxNameWithTerminator) : 0;
        if (end == 0) {
            if (limit < filesOffset && limit < at + kMaxNameWithTerminator) {
                const size_t want = at + (names - i) * kMaxNameWithTerminator;
                *needed = want < filesOffset ? want : filesOffset;
                return kTableNeedMore;
            }
            return kTableDamaged;
        }
        if (i == names - 2 && (header->flags & kCabNextCabinet))
            header->nextName = reinterpret_cast<const char*>(data + at);
        at = end;
    }
    header->namesRead = true;

    // The walk that finds the table's end, reading nothing past the bytes given.
    at = filesOffset;
    for (unsigned i = 0; i < header->fileCount; ++i) {
        const size_t nameEnd =
            at + kCffileSizeof < limit
                ? PastString(data, at + kCffileSizeof, limit, kMaxNameWithTerminator)
                : 0;
        if (nameEnd == 0) {
            const bool cut = at + kCffileSizeof + kMaxNameWithTerminator > limit;
            if (cut && size < cabinet) {
                // Room for the rest at the size of the largest entry, within the cabinet.
                const size_t want =
                    at + (header->fileCount - i) * (kCffileSizeof + kMaxNameWithTerminator);
                *needed = want < cabinet ? want : cabinet;
                return kTableNeedMore;
            }
            return kTableDamaged;
        }
        at = nameEnd;
    }

    at = filesOffset;
    for (unsigned i = 0; i < header->fileCount; ++i) {
        const CabTableFile file = {reinterpret_cast<const char*>(data + at + kCffileSizeof),
                                   ReadLe32(data + at + kCffileUncompressedSize),
                                   ReadLe16(data + at + kCffileFolderIndex),
                                   ReadLe16(data + at + kCffileAttributes)};
        if (visit && !visit(context, file))
            return kTableStopped;
        at = PastString(data, at + kCffileSizeof, limit, kMaxNameWithTerminator);
    }
    return kTableRead;
}
