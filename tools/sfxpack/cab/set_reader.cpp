#include "cab/set_reader.h"

#include <cerrno>

#include "cab/cab_set.h"
#include "util/file_io.h"
#include "util/paths.h"
#include "payload/payload_digest.h"

// Opens and reads the later cabinet name beside installerPath into *c, checked against e.
// False when it cannot be read as a cabinet at all (the set cannot be followed past it).
static bool ReadLater(const std::string& installerPath, const PartExpectation& e, bool verify,
                      LaterCabinet* c, Problems* problems) {
    const std::string path = FolderOf(installerPath) + e.name;
    Source src;
    Problems opened;
    if (installerPath.empty() || !OpenSource(path, &src, &opened))
        return Fail(problems, e.name + (installerPath.empty() || errno == ENOENT
                                            ? ": missing"
                                            : ": " + opened.errors.front()));
    c->name = e.name;
    c->size = src.size;
    Problems found;
    bool read = ReadCabinet(src, &c->info, &found);
    if (read && verify)
        DigestPayload(src, &c->crc32c, &found);
    CloseSource(&src);
    if (read) {
        PartExpectation checked = e;
        if (!verify) // the CRC-32C is not computed, the size still compared
            checked.recorded.crc32c = c->crc32c;
        CheckSetPart(c->info, c->size, c->crc32c, checked, &found);
    }
    AppendProblems(problems, found, e.name + ": ");
    return read;
}

void ReadLaterCabinets(const std::string& installerPath, const CabInfo& first,
                       const PayloadRecord* record, bool verify, std::vector<LaterCabinet>* later,
                       Problems* problems) {
    const uint32_t recorded = record ? record->laterParts : 0;
    const CabInfo* before = &first;
    std::string beforeName = BaseName(installerPath);
    bool whole = true; // the set was followed to a cabinet that names no next
    if (first.flags & kCabPrevCabinet)
        Warn(problems, "the installer's cabinet continues cabinet " + first.prevCabinet +
                           ", which is not part of it");
    if ((first.flags & kCabNextCabinet) && first.cabinetIndex != 0)
        Fail(problems, "the installer's cabinet is number " + std::to_string(first.cabinetIndex) +
                           " of its set, not the first");
    for (uint32_t index = 1; before->flags & kCabNextCabinet; ++index) {
        const std::string name = before->nextCabinet; // before moves as later grows
        if (!IsSetFileName(name)) {
            Fail(problems, "cabinet " + std::to_string(index) + " names a next cabinet that " +
                               "is no file name beside the installer: " + name);
            whole = false;
            break;
        }
        if (recorded && index > recorded) {
            Fail(problems, name + ": named as cabinet " + std::to_string(index + 1) +
                               ", the record lists " + std::to_string(recorded) +
                               " later cabinets");
            whole = false;
            break;
        }
        if (index > UINT16_MAX) // every cabinet holds a file: a longer chain loops
            break;
        PartExpectation e;
        e.name = name;
        e.prevName = beforeName;
        e.setId = first.setId;
        e.index = static_cast<uint16_t>(index);
        e.inRecord = recorded != 0;
        if (record)
            e.recorded = PayloadPartAt(*record, index - 1);
        LaterCabinet c;
        if (!ReadLater(installerPath, e, verify, &c, problems)) {
            whole = false;
            break;
        }
        later->push_back(c);
        before = &later->back().info;
        beforeName = name;
    }
    if (whole && recorded && later->size() != recorded)
        Fail(problems, "the set has " + std::to_string(later->size()) +
                           " later cabinets, the record lists " + std::to_string(recorded));
    if (!later->empty() && record && !recorded)
        Warn(problems, "the payload record does not cover the " + std::to_string(later->size()) +
                           " later cabinets");
}

CabInfo JoinSetFiles(const CabInfo& first, const std::vector<LaterCabinet>& later,
                     std::vector<size_t>* cabinetOf) {
    CabInfo all = first;
    all.flags = 0;
    all.prevCabinet = all.nextCabinet = "";
    if (cabinetOf)
        cabinetOf->assign(first.files.size(), 0);
    for (size_t k = 0; k < later.size(); ++k) {
        all.files.insert(all.files.end(), later[k].info.files.begin(), later[k].info.files.end());
        if (cabinetOf)
            cabinetOf->resize(all.files.size(), k + 1);
    }
    return all;
}
