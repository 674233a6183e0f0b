#include "lane_tables.h"

#include <stdlib.h>
#include <string.h>

#include "cab_format.h"
#include "le.h"

namespace {

// Sharing is quadratic in the folders; a cabinet with more is extracted on one lane.
constexpr uint16_t kMaxSharedFolders = 4096;

// Where a cabinet's tables lie, as its header and folder table say.
struct TableLayout {
    uint16_t folders, files;
    size_t folderTable;  // first CFFOLDER
    size_t folderEntry;  // its size with the folder reserve
    size_t fileTable;    // coffFiles
    size_t firstData;    // the lowest folder data offset: the tables end before it
};

// The layout of data[0, size): kSplitDone, kSplitNeedMore with *needed, or kSplitOneLane.
SplitResult ReadLayout(const unsigned char* data, size_t size, TableLayout* t, size_t* needed) {
    if (size < kCfheadSizeof) {
        *needed = kCfheadSizeof;
        return kSplitNeedMore;
    }
    if (memcmp(data, kCabSignature, kCabSignatureSize) != 0)
        return kSplitOneLane;
    const uint16_t flags = ReadLe16(data + kCfheadFlags);
    t->folders = ReadLe16(data + kCfheadFolderCount);
    t->files = ReadLe16(data + kCfheadFileCount);
    if (flags & (kCabPrevCabinet | kCabNextCabinet) || t->folders < 2 ||
        t->folders > kMaxSharedFolders)
        return kSplitOneLane;
    size_t at = kCfheadSizeof;
    size_t folderReserve = 0;
    if (flags & kCabReservePresent) {
        if (size < at + kCfheadextSizeof) {
            *needed = at + kCfheadextSizeof;
            return kSplitNeedMore;
        }
        folderReserve = data[at + kCfheadextFolderReserve];
        at += kCfheadextSizeof + ReadLe16(data + at + kCfheadextHeaderReserve);
    }
    t->folderTable = at;
    t->folderEntry = kCffoldSizeof + folderReserve;
    const size_t folderEnd = at + t->folders * t->folderEntry;
    if (size < folderEnd) {
        *needed = folderEnd;
        return kSplitNeedMore;
    }
    t->fileTable = ReadLe32(data + kCfheadFilesOffset);
    t->firstData = SIZE_MAX;
    for (size_t i = 0; i < t->folders; ++i) {
        const size_t offset = ReadLe32(data + at + i * t->folderEntry + kCffoldDataOffset);
        if (offset < t->firstData)
            t->firstData = offset;
    }
    // The lanes' shorter tables must end where the cabinet's own do, before the data.
    if (t->fileTable < folderEnd || t->firstData < t->fileTable)
        return kSplitOneLane;
    if (size < t->firstData) {
        *needed = t->firstData;
        return kSplitNeedMore;
    }
    return kSplitDone;
}

// Each file's entry offset into fileAt, each folder's work into work: kSplitOneLane when an
// entry runs past the tables' end or names no folder of this cabinet.
SplitResult WalkFiles(const unsigned char* data, const TableLayout& t, size_t* fileAt,
                      uint64_t* work) {
    size_t at = t.fileTable;
    for (size_t i = 0; i < t.files; ++i) {
        if (t.firstData - at < kCffileSizeof + 1)
            return kSplitOneLane;
        const uint16_t folder = ReadLe16(data + at + kCffileFolderIndex);
        if (folder >= t.folders)
            return kSplitOneLane; // spans cabinets, or damaged
        const void* end = memchr(data + at + kCffileSizeof, '\0', t.firstData - at - kCffileSizeof);
        if (!end)
            return kSplitOneLane;
        fileAt[i] = at;
        work[folder] += ReadLe32(data + at + kCffileUncompressedSize);
        at = static_cast<size_t>(static_cast<const unsigned char*>(end) - data) + 1;
    }
    return kSplitDone;
}

// Orders file names as Windows would match them: ASCII letters without case.
int CompareNames(const void* a, const void* b) {
    const unsigned char* x = *static_cast<const unsigned char* const*>(a);
    const unsigned char* y = *static_cast<const unsigned char* const*>(b);
    for (;; ++x, ++y) {
        const int cx = *x >= 'A' && *x <= 'Z' ? *x + 32 : *x;
        const int cy = *y >= 'A' && *y <= 'Z' ? *y + 32 : *y;
        if (cx != cy || cx == 0)
            return cx - cy;
    }
}

// Whether two files of different folders bear one name: which of them is left would then
// depend on which lane finishes last, so such a cabinet keeps the one lane that writes them
// in order. kSplitNoMemory when the check cannot be made.
SplitResult CheckNamesApart(const unsigned char* data, const TableLayout& t,
                            const size_t* fileAt) {
    const unsigned char** names =
        static_cast<const unsigned char**>(malloc((t.files + 1u) * sizeof(*names)));
    if (!names)
        return kSplitNoMemory;
    for (size_t i = 0; i < t.files; ++i)
        names[i] = data + fileAt[i] + kCffileSizeof;
    qsort(names, t.files, sizeof(*names), CompareNames);
    SplitResult result = kSplitDone;
    for (size_t i = 1; i < t.files && result == kSplitDone; ++i) {
        const uint16_t a = ReadLe16(names[i - 1] - kCffileSizeof + kCffileFolderIndex);
        const uint16_t b = ReadLe16(names[i] - kCffileSizeof + kCffileFolderIndex);
        if (a != b && CompareNames(&names[i - 1], &names[i]) == 0)
            result = kSplitOneLane;
    }
    free(names);
    return result;
}

// Gives each folder to a lane (lane[] starts all 0xff): largest first, to the lane with the
// least work so far; index[f] becomes folder f's number among its lane's folders.
void AssignFolders(const uint64_t* work, uint16_t folders, int lanes, uint8_t* lane,
                   uint16_t* index, LaneTables* out) {
    for (uint16_t n = 0; n < folders; ++n) {
        int largest = -1;
        for (uint16_t f = 0; f < folders; ++f) {
            if (lane[f] == 0xff && (largest < 0 || work[f] > work[largest]))
                largest = f;
        }
        int least = 0;
        for (int l = 1; l < lanes; ++l) {
            if (out[l].work < out[least].work)
                least = l;
        }
        lane[largest] = static_cast<uint8_t>(least);
        out[least].work += work[largest];
    }
    uint16_t counts[kMaxLanes] = {};
    for (uint16_t f = 0; f < folders; ++f)
        index[f] = counts[lane[f]]++;
}

// Writes lane l's header and tables: the cabinet's header with its own counts, then its
// folders and their files in the cabinet's order, the files' folder numbers renumbered.
bool WriteLaneTables(const unsigned char* data, const TableLayout& t, const size_t* fileAt,
                     const uint8_t* lane, const uint16_t* index, int l, LaneTables* out) {
    uint16_t folders = 0, files = 0;
    size_t fileBytes = 0;
    for (uint16_t f = 0; f < t.folders; ++f)
        folders += lane[f] == l;
    for (size_t i = 0; i < t.files; ++i) {
        const size_t at = fileAt[i];
        if (lane[ReadLe16(data + at + kCffileFolderIndex)] != l)
            continue;
        ++files;
        fileBytes +=
            kCffileSizeof + strlen(reinterpret_cast<const char*>(data + at) + kCffileSizeof) + 1;
    }
    const size_t fileTable = t.folderTable + folders * t.folderEntry;
    const size_t length = fileTable + fileBytes;
    unsigned char* bytes = static_cast<unsigned char*>(malloc(length));
    if (!bytes)
        return false;
    memcpy(bytes, data, t.folderTable);
    WriteLe16(bytes + kCfheadFolderCount, folders);
    WriteLe16(bytes + kCfheadFileCount, files);
    WriteLe32(bytes + kCfheadFilesOffset, static_cast<uint32_t>(fileTable));
    unsigned char* cursor = bytes + t.folderTable;
    for (uint16_t f = 0; f < t.folders; ++f) {
        if (lane[f] != l)
            continue;
        memcpy(cursor, data + t.folderTable + f * t.folderEntry, t.folderEntry);
        cursor += t.folderEntry;
    }
    for (size_t i = 0; i < t.files; ++i) {
        const size_t at = fileAt[i];
        const uint16_t folder = ReadLe16(data + at + kCffileFolderIndex);
        if (lane[folder] != l)
            continue;
        const size_t entry =
            kCffileSizeof + strlen(reinterpret_cast<const char*>(data + at) + kCffileSizeof) + 1;
        memcpy(cursor, data + at, entry);
        WriteLe16(cursor + kCffileFolderIndex, index[folder]);
        cursor += entry;
    }
    out->bytes = bytes;
    out->length = static_cast<uint32_t>(length);
    return true;
}

} // namespace

SplitResult SplitFolders(const unsigned char* data, size_t size, int lanes, LaneTables* out,
                         int* used, size_t* needed) {
    *used = 0;
    TableLayout t;
    const SplitResult layout = ReadLayout(data, size, &t, needed);
    if (layout != kSplitDone)
        return layout;
    if (lanes > kMaxLanes)
        lanes = kMaxLanes;
    if (lanes > t.folders)
        lanes = t.folders;
    if (lanes < 2)
        return kSplitOneLane;
    size_t* fileAt = static_cast<size_t*>(malloc((t.files + 1u) * sizeof(size_t)));
    uint64_t* work = static_cast<uint64_t*>(calloc(t.folders, sizeof(uint64_t)));
    uint8_t* lane = static_cast<uint8_t*>(malloc(t.folders));
    uint16_t* index = static_cast<uint16_t*>(malloc(t.folders * sizeof(uint16_t)));
    SplitResult result =
        fileAt && work && lane && index ? WalkFiles(data, t, fileAt, work) : kSplitNoMemory;
    if (result == kSplitDone)
        result = CheckNamesApart(data, t, fileAt);
    if (result == kSplitDone) {
        for (int l = 0; l < lanes; ++l)
            out[l] = LaneTables();
        memset(lane, 0xff, t.folders);
        AssignFolders(work, t.folders, lanes, lane, index, out);
        for (int l = 0; l < lanes && result == kSplitDone; ++l) {
            if (!WriteLaneTables(data, t, fileAt, lane, index, l, &out[l]))
                result = kSplitNoMemory;
        }
        if (result == kSplitDone)
            *used = lanes;
        else
            FreeLaneTables(out, lanes);
    }
    free(index);
    free(lane);
    free(work);
    free(fileAt);
    return result;
}

void FreeLaneTables(LaneTables* tables, int count) {
    for (int i = 0; i < count; ++i) {
        free(tables[i].bytes);
        tables[i].bytes = nullptr;
        tables[i].length = 0;
    }
}
