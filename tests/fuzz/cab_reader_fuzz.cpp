// Fuzzes the cabinet reader. Any bytes: no crash, no undefined behaviour, no slow input (the
// fuzzer's timeout), a refusal always says why, and what is accepted holds together: the
// header's counts are the tables', every file belongs to a folder, and the data blocks of
// the folders, walked here the simple way, lie after the tables and never overlap.
#include <algorithm>
#include <cstdlib>
#include <utility>

#include "cab/cab_reader.h"
#include "le.h"
#include "payload/payload_rules.h"

// Aborts, which the fuzzer reports with the input, when a property does not hold.
static void Require(bool property) {
    if (!property)
        abort();
}

// The byte ranges of folder's data blocks in the cabinet at data, walked block by block.
static void BlockRanges(const uint8_t* data, uint32_t cabinetSize, const CabFolder& folder,
                        uint32_t dataReserve, std::vector<std::pair<uint64_t, uint64_t>>* out) {
    uint64_t at = folder.dataOffset;
    for (unsigned b = 0; b < folder.dataBlocks; ++b) {
        Require(at + kCfdataSizeof <= cabinetSize);
        const uint64_t end =
            at + kCfdataSizeof + dataReserve + ReadLe16(data + at + kCfdataCompressedSize);
        Require(end <= cabinetSize);
        out->push_back({at, end});
        at = end;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CabInfo info;
    Problems problems;
    const bool read = ReadCabinet(MemorySource(data, size), &info, &problems);
    Require(read || !problems.errors.empty());
    if (!read || !problems.errors.empty())
        return 0;
    Require(size >= kCfheadSizeof && info.cabinetSize <= size);
    Require(info.folders.size() == ReadLe16(data + kCfheadFolderCount) &&
            info.files.size() == ReadLe16(data + kCfheadFileCount));
    const uint32_t dataReserve =
        (info.flags & kCabReservePresent) ? data[kCfheadSizeof + kCfheadextDataReserve] : 0;
    uint64_t tablesEnd = ReadLe32(data + kCfheadFilesOffset);
    for (const CabFile& f : info.files)
        tablesEnd += kCffileSizeof + f.name.size() + 1;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const CabFolder& folder : info.folders)
        BlockRanges(data, info.cabinetSize, folder, dataReserve, &ranges);
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 0; i < ranges.size(); ++i) {
        Require(ranges[i].first >= tablesEnd);
        Require(i == 0 || ranges[i - 1].second <= ranges[i].first);
    }
    for (const CabFile& f : info.files)
        Require(f.folder < info.folders.size() || f.folder >= kFolderContinuedFromPrev);
    Problems findings;
    CheckPayload(info, &findings);
    return 0;
}
