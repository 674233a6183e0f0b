#include "cab/cab_set.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "util/hex.h"

uint64_t WorstBlockGrowth(CompressionKind kind) {
    return kind == CompressionKind::Lzx ? kLzxWorstBlockGrowth : kWorstBlockGrowth;
}

uint64_t MinPartBytes(CompressionKind kind) {
    return kOneFileTablesBytes + kMaxDataBlockSize + WorstBlockGrowth(kind);
}

uint64_t WorstCompressedSize(uint64_t bytes, uint64_t growth) {
    const uint64_t blocks = (bytes + kMaxDataBlockSize - 1) / kMaxDataBlockSize;
    return bytes + blocks * growth;
}

uint64_t FolderLimit(uint64_t partBytes, uint64_t growth) {
    if (partBytes < kOneFileTablesBytes + kMaxDataBlockSize + growth)
        return 0;
    // Whole blocks first, then what a last, partial block can still hold.
    const uint64_t room = partBytes - kOneFileTablesBytes;
    const uint64_t fullBlock = kMaxDataBlockSize + growth;
    uint64_t limit = room / fullBlock * kMaxDataBlockSize;
    const uint64_t left = room % fullBlock;
    if (left > growth)
        limit += left - growth;
    return limit < kMaxFolderBytes ? limit : kMaxFolderBytes;
}

uint64_t FileEntryBytes(const std::string& name) {
    return kCffileSizeof + name.size() + 1;
}

bool AssignFolders(const std::vector<FileCost>& files, uint64_t partBytes,
                   std::vector<size_t>* folderOf, size_t* tooBig, uint64_t growth,
                   uint64_t shareBytes) {
    const uint64_t limit = FolderLimit(partBytes, growth);
    // Beside its files' entries, a folder alone in a cabinet of a set has these tables.
    const uint64_t fixedTables = kCfheadSizeof + 2 * kMaxNeighbourBytes + kCffoldSizeof;
    folderOf->assign(files.size(), 0);
    size_t folder = 0;
    uint64_t used = 0, entries = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const FileCost& f = files[i];
        if (f.size > kMaxFolderBytes) {
            *tooBig = i;
            return false;
        }
        // A file over the limit may still compress enough to fit a cabinet: it gets a folder
        // of its own, and the writer refuses it if it does not.
        const bool alone = f.size > limit;
        const bool fits =
            !alone && f.size <= limit - used &&
            (used == 0 || (used <= shareBytes && f.size <= shareBytes - used)) &&
            WorstCompressedSize(used + f.size, growth) + fixedTables + entries + f.entryBytes <= partBytes;
        if (!fits && i > 0) {
            ++folder;
            used = entries = 0;
        }
        used += alone ? limit : f.size;
        entries += f.entryBytes;
        (*folderOf)[i] = folder;
    }
    return true;
}

uint64_t SharedFolderBytes(uint64_t payloadBytes, CompressionKind kind) {
    if (payloadBytes < kMinSharedPayload)
        return UINT64_MAX;
    const uint64_t least =
        kind == CompressionKind::Lzx ? kMinSharedLzxFolderBytes : kMinSharedFolderBytes;
    const uint64_t share = (payloadBytes + kSharedFolders - 1) / kSharedFolders;
    return share > least ? share : least;
}

// The installer's name without a last ".exe" in any case.
static std::string SetBase(const std::string& installerName) {
    const size_t n = installerName.size();
    if (n > 4 && strcasecmp(installerName.c_str() + n - 4, ".exe") == 0)
        return installerName.substr(0, n - 4);
    return installerName;
}

std::string SetCabinetName(const std::string& installerName, size_t index) {
    if (index == 0)
        return installerName;
    return SetBase(installerName) + "-" + std::to_string(index + 1) + ".cab";
}

bool IsSetFileName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes || name == "." || name == "..")
        return false;
    for (char c : name) {
        if (c < 0x20 || c > 0x7e || strchr("\\/:*?\"<>|", c))
            return false;
    }
    return true;
}

bool CheckSetNames(const std::string& installerName, size_t cabinets, Problems* problems) {
    // The stub reads these names in the ANSI code page: plain ASCII reads alike in every one.
    if (!IsSetFileName(SetBase(installerName)))
        return Fail(problems,
                    "the installer's name must be printable ASCII without \\ / : * ? \" < > | to "
                    "name the cabinets that follow it: " +
                        installerName);
    const std::string last = SetCabinetName(installerName, cabinets - 1);
    if (last.size() > kMaxNameBytes)
        return Fail(problems, "the name of cabinet " + last + " is over the " +
                                  std::to_string(kMaxNameBytes) + " bytes a cabinet header holds");
    return true;
}

uint64_t CabinetTablesSize(const std::string& prev, const std::string& next, size_t folders,
                           uint64_t entryBytes) {
    uint64_t size = kCfheadSizeof + kCffoldSizeof * folders + entryBytes;
    if (!prev.empty())
        size += prev.size() + 1 + 1;
    if (!next.empty())
        size += next.size() + 1 + 1;
    return size;
}

// The size of the cabinet of plan's first count open folders, and next when given.
static uint64_t CabinetSize(const SetPlan& plan, size_t count, const FolderCost* next,
                            bool namesNext) {
    uint64_t data = 0, entries = 0;
    size_t folders = count;
    for (size_t i = 0; i < count; ++i) {
        data += plan.open[i].dataBytes;
        entries += plan.open[i].entryBytes;
    }
    if (next) {
        data += next->dataBytes;
        entries += next->entryBytes;
        ++folders;
    }
    const std::string prev =
        plan.cabinet ? SetCabinetName(plan.installerName, plan.cabinet - 1) : "";
    const std::string following =
        namesNext ? SetCabinetName(plan.installerName, plan.cabinet + 1) : "";
    return CabinetTablesSize(prev, following, folders, entries) + data;
}

size_t FoldersToClose(const SetPlan& plan, const FolderCost& next) {
    if (plan.open.empty() || CabinetSize(plan, plan.open.size(), &next, false) <= plan.partBytes)
        return 0;
    size_t count = plan.open.size();
    while (count > 1 && CabinetSize(plan, count, nullptr, true) > plan.partBytes)
        --count;
    return count;
}

void PlaceFolders(const std::vector<FolderCost>& folders, uint64_t partBytes,
                  const std::string& installerName, std::vector<size_t>* cabinetOf) {
    SetPlan plan;
    plan.partBytes = partBytes;
    plan.installerName = installerName;
    cabinetOf->clear();
    for (size_t i = 0; i < folders.size(); ++i) {
        for (size_t n; (n = FoldersToClose(plan, folders[i])) > 0; ++plan.cabinet) {
            for (size_t k = 0; k < n; ++k)
                cabinetOf->push_back(plan.cabinet);
            plan.open.erase(plan.open.begin(), plan.open.begin() + static_cast<ptrdiff_t>(n));
        }
        plan.open.push_back(folders[i]);
    }
    // A folder's cabinet is known once that cabinet closes; the open one is the last.
    cabinetOf->resize(folders.size(), plan.cabinet);
}

uint16_t SetIdFromDigest(uint32_t crc) {
    const uint16_t id = static_cast<uint16_t>(crc ^ crc >> 16);
    return id ? id : 1;
}

void CheckSetPart(const CabInfo& info, uint64_t fileSize, uint32_t crc, const PartExpectation& e,
                  Problems* problems) {
    if (info.setId != e.setId)
        Fail(problems,
             "set ID " + HexDigits(info.setId, 4) + ", the set's is " + HexDigits(e.setId, 4));
    if (info.cabinetIndex != e.index)
        Fail(problems, "cabinet number " + std::to_string(info.cabinetIndex) +
                           " where the set's cabinet " + std::to_string(e.index) + " belongs");
    if (!(info.flags & kCabPrevCabinet))
        Fail(problems, "does not name a previous cabinet");
    else if (info.prevCabinet != e.prevName && e.index == 1)
        Warn(problems, "names installer " + info.prevCabinet + " before it, not " + e.prevName +
                           " (renamed?)");
    else if (info.prevCabinet != e.prevName)
        Fail(problems, "names " + info.prevCabinet + " before it, not " + e.prevName);
    if (info.cabinetSize != fileSize)
        Fail(problems, "its header gives " + std::to_string(info.cabinetSize) +
                           " bytes, the file holds " + std::to_string(fileSize));
    if (!e.inRecord)
        return;
    if (fileSize != e.recorded.size)
        Fail(problems,
             std::to_string(fileSize) + " bytes, the record's " + std::to_string(e.recorded.size));
    else if (crc != e.recorded.crc32c)
        Fail(problems, "CRC-32C " + HexDigits(crc, 8) + " does not match the record's " +
                           HexDigits(e.recorded.crc32c, 8));
}
