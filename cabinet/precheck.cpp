#include "precheck.h"

#include <stdlib.h>
#include <string.h>

#include "cab_source.h"
#include "cab_table.h"
#include "file_in_use.h"
#include "owned.h"
#include "payload_digest.h"
#include "resolve_name.h"
#include "volume_room.h"
#include "wide_path.h"

namespace {

// Most file tables fit here; a longer one is read again at the size it asks for.
constexpr size_t kFirstTableRead = 64 * 1024;

// What the walk over the file tables gathers, with the first failure met.
struct TableWalk {
    const char* destination;
    uint32_t clusterBytes;
    uint64_t needed = 0; // bytes of whole clusters
    uint64_t bytes = 0;  // bytes of the files
    int code = 0;
    char* text = nullptr; // the failure's whole text, when it has one of its own
    // Before the run a confirmed cancel stops the checks; during it, the run skips the files.
    bool stopsAtCancel = false;
    // Files already there, which the run would replace, are tried for another program's hold
    // (a folder that does not exist yet holds none).
    bool triesExisting = false;
};

// Records the walk's failure once: the first one met is the one told.
int Fail(TableWalk* walk, int code, char* text = nullptr) {
    if (walk->code == 0) {
        walk->code = code;
        walk->text = text;
    } else {
        free(text);
    }
    return walk->code;
}

// Stops the checks once a cancel is confirmed: true when it was.
bool Cancelled(TableWalk* walk) {
    if (!walk->stopsAtCancel || !g_cancelRequested.load())
        return false;
    Fail(walk, FDIERROR_USER_ABORT);
    return true;
}

bool VisitFile(void* context, const CabTableFile& file) {
    TableWalk* walk = static_cast<TableWalk*>(context);
    if (Cancelled(walk))
        return false;
    // A file continued from an earlier cabinet was written with that one.
    if (file.folder == kFolderContinuedFromPrev || file.folder == kFolderContinuedPrevAndNext)
        return true;
    OutputPath out;
    char* shown = nullptr;
    const int code = ResolveArchivedName(walk->destination, file.name, file.attribs, &out, &shown);
    if (code == 0) {
        const bool held = walk->triesExisting && IsFileInUse(out.path);
        if (held)
            Fail(walk, CAB_ERROR_IN_USE, InUseText(out.path + out.archiveStart));
        FreeOutputPath(&out);
        if (held)
            return false;
    }
    if (code == CAB_ERROR_BAD_NAME) {
        Fail(walk, code, RefusedNameText(shown));
        free(shown);
        return false;
    }
    if (code) {
        Fail(walk, code);
        return false;
    }
    const uint64_t clusters =
        (file.size + static_cast<uint64_t>(walk->clusterBytes) - 1) / walk->clusterBytes;
    walk->needed += clusters * walk->clusterBytes;
    walk->bytes += file.size;
    return true;
}

// Walks the file table of a cabinet of cabinetSize bytes, all present, adding its files to
// walk: the walk's code.
int WalkTable(const CabSource& source, uint32_t cabinetSize, TableWalk* walk) {
    CabTableHeader header = {};
    size_t needed = 0;
    size_t size = cabinetSize < kFirstTableRead ? cabinetSize : kFirstTableRead;
    CabTableResult read = kTableNeedMore;
    while (read == kTableNeedMore) {
        OwnedBlock<unsigned char> table(static_cast<unsigned char*>(malloc(size)));
        if (!table)
            return Fail(walk, FDIERROR_ALLOC_FAIL);
        const ReadOutcome got = ReadStart(source, table.get(), size);
        if (got != kReadOk)
            return Fail(walk, ReadOutcomeCode(got));
        read = ReadCabTable(table.get(), size, &header, &needed, VisitFile, walk);
        if (read == kTableNeedMore && needed <= size)
            read = kTableDamaged; // asks for no more than it had: cannot end
        size = needed;
    }
    if (read == kTableDamaged || read == kTableNotCabinet)
        return Fail(walk, CAB_ERROR_INCOMPLETE);
    return walk->code;
}

// The text of a failure met on a later cabinet, naming it; no memory says nothing of the
// cabinet.
char* LaterCabinetText(int code, const char* name) {
    if (code == CAB_ERROR_INCOMPLETE)
        return IncompleteText(name);
    if (code == FDIERROR_ALLOC_FAIL)
        return nullptr;
    return ComposeFailureText(code, name);
}

// Checks a later cabinet before its table is walked: present, a cabinet whole as declared,
// next in the set after previous, and, when record is not null, the size and digest it gives
// for part number index. 0 or the code; *cabinetSize and *link are the cabinet's own.
int CheckLaterPart(const CabSource& source, uint32_t index, const PayloadRecord* record,
                   const SetLink& previous, uint32_t* cabinetSize, SetLink* link) {
    ReadOutcome read = DeclaredSize(source, cabinetSize);
    if (read == kReadOk)
        read = ReadSetLink(source, link);
    if (read != kReadOk)
        return ReadOutcomeCode(read);
    if (link->setId != previous.setId ||
        link->cabinetIndex != static_cast<uint16_t>(previous.cabinetIndex + 1))
        return FDIERROR_WRONG_CABINET;
    if (!record)
        return 0;
    const PayloadPart expected = PayloadPartAt(*record, index);
    if (source.length != expected.size)
        return CAB_ERROR_INCOMPLETE;
    uint64_t earlyLength = 0;
    uint32_t crc = 0;
    if (!EarlyPartDigest(index, &earlyLength, &crc) || earlyLength != source.length) {
        read = SourceCrc(source, &crc);
        if (read != kReadOk)
            return ReadOutcomeCode(read);
    }
    return crc == expected.crc32c ? 0 : CAB_ERROR_INCOMPLETE;
}

// Checks the later cabinet number index (0: the first after the embedded one) that link->next
// names, and walks its table; link then holds the later cabinet's own. record is null for an
// installer without one. The walk's code; its text names the cabinet.
int CheckLaterCabinet(uint32_t index, const PayloadRecord* record, SetLink* link, TableWalk* walk) {
    char name[kMaxNameBytes + 1];
    strcpy(name, link->next);
    const SetLink previous = *link;
    DiskCabinet part;
    if (!OpenDisk(name, &part)) {
        const int code = ReadOutcomeCode(kReadMissing);
        return Fail(walk, code, LaterCabinetText(code, name));
    }
    const CabSource source = DiskSource(&part);
    uint32_t cabinetSize = 0;
    const int code = CheckLaterPart(source, index, record, previous, &cabinetSize, link);
    if (code)
        Fail(walk, code, LaterCabinetText(code, name));
    else if (WalkTable(source, cabinetSize, walk) == CAB_ERROR_INCOMPLETE && !walk->text)
        walk->text = LaterCabinetText(CAB_ERROR_INCOMPLETE, name);
    CloseDisk(&part);
    return walk->code;
}

// The checks on the open embedded cabinet and the later cabinets of its set, into walk.
void CheckSet(EmbeddedCabFile* file, HWND notify, TableWalk* walk) {
    const CabSource source = EmbeddedSource(file);
    if (Cancelled(walk))
        return;
    uint32_t cabinetSize = 0;
    ReadOutcome read = DeclaredSize(source, &cabinetSize);
    if (read != kReadOk) {
        Fail(walk, ReadOutcomeCode(read));
        return;
    }
    PayloadRecord record;
    const bool recorded = FindPayloadRecord(&record);
    if (recorded) {
        const int code = CheckEmbeddedDigest(record, source.length, notify);
        if (code) {
            Fail(walk, code);
            return;
        }
    }
    SetLink link;
    read = ReadSetLink(source, &link);
    if (read != kReadOk) {
        Fail(walk, ReadOutcomeCode(read));
        return;
    }
    if (WalkTable(source, cabinetSize, walk))
        return;
    // A record that lists no later cabinet comes from a payload of one cabinet: whatever set
    // it names is checked without digests.
    const PayloadRecord* digests = recorded && record.laterParts ? &record : nullptr;
    uint32_t later = 0;
    for (; link.next[0]; ++later) {
        if (Cancelled(walk))
            return;
        if (digests && later >= record.laterParts) {
            Fail(walk, CAB_ERROR_INCOMPLETE); // a longer set than was packed
            return;
        }
        if (CheckLaterCabinet(later, digests, &link, walk))
            return;
    }
    if (digests && later < record.laterParts)
        Fail(walk, CAB_ERROR_INCOMPLETE); // a header lost the next cabinet's name
}

// Ends the checks: the walk's failure, else the room, recorded in ex.
int Conclude(CabExtractor* ex, const Volume& volume, TableWalk* walk) {
    if (walk->code == 0 && !Cancelled(walk)) {
        char* text = nullptr;
        const int code = CheckRoom(volume, walk->needed, &text);
        if (code)
            Fail(walk, code, text);
    }
    if (walk->code)
        RecordFailure(ex, walk->code, walk->text);
    return walk->code;
}

} // namespace

int CheckBeforeExtracting(CabExtractor* ex, const char* destination, uint64_t* payloadBytes) {
    if (payloadBytes)
        *payloadBytes = 0;
    // Without its own file the program cannot read its payload; the run reports that as it
    // always has.
    EmbeddedCabFile* file = OpenEmbeddedCab();
    if (!file)
        return 0;
    Volume volume;
    QueryVolume(destination ? destination : "", &volume);
    TableWalk walk;
    walk.destination = destination ? destination : "";
    walk.clusterBytes = volume.clusterBytes;
    walk.stopsAtCancel = true;
    walk.triesExisting = FolderExists(walk.destination);
    CheckSet(file, ex->hwndNotify, &walk);
    ReleaseEmbeddedCab(file);
    if (payloadBytes)
        *payloadBytes = walk.bytes;
    return Conclude(ex, volume, &walk);
}

int CheckContinuation(CabExtractor* ex, const char* path) {
    const char* destination = ex->destination ? ex->destination : "";
    Volume volume;
    QueryVolume(destination, &volume);
    TableWalk walk;
    walk.destination = destination;
    walk.clusterBytes = volume.clusterBytes;
    DiskCabinet part;
    if (!OpenDisk(path, &part)) {
        const int code = ReadOutcomeCode(kReadMissing);
        Fail(&walk, code, LaterCabinetText(code, path));
    } else {
        const CabSource source = DiskSource(&part);
        uint32_t cabinetSize = 0;
        const ReadOutcome read = DeclaredSize(source, &cabinetSize);
        if (read != kReadOk)
            Fail(&walk, ReadOutcomeCode(read), LaterCabinetText(ReadOutcomeCode(read), path));
        else if (WalkTable(source, cabinetSize, &walk) == CAB_ERROR_INCOMPLETE && !walk.text)
            walk.text = LaterCabinetText(CAB_ERROR_INCOMPLETE, path);
        CloseDisk(&part);
    }
    return Conclude(ex, volume, &walk);
}
