#include "precheck.h"

#include <fcntl.h>
#include <new>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "binding.h"
#include "cab_table.h"
#include "crc32c.h"
#include "embedded_file.h"
#include "names.h"
#include "payload_record.h"
#include "set_parts.h"
#include "wide_path.h"

namespace {

// Large reads: the digest reads the whole payload once, and the runtime passes reads of a
// whole number of its buffers straight to the system.
constexpr size_t kReadChunk = 1 << 20;
// Most file tables fit here; a longer one is read again at the size it asks for.
constexpr size_t kFirstTableRead = 64 * 1024;

// The message for code, with detail and tail after a colon when detail is given; a heap block.
char* Message(int code, const char* detail, const char* tail = "") {
    const char* parts[] = {CabErrorText(code), detail ? ": " : "", detail ? detail : "", tail};
    size_t size = 1;
    for (const char* part : parts)
        size += strlen(part);
    char* message = static_cast<char*>(malloc(size));
    if (!message)
        return nullptr;
    message[0] = '\0';
    for (const char* part : parts)
        strcat(message, part);
    return message;
}

// A cabinet to check: the embedded one, or a continuation on the disk. Its two operations
// are those of its kind of handle.
struct CabSource {
    uint64_t length;
    bool (*rewind)(void* self);
    int (*read)(void* self, void* buf, unsigned count); // bytes read, 0 at the end, -1 failed
    void* self;
};

bool RewindEmbedded(void* self) {
    return SeekEmbeddedCab(static_cast<EmbeddedCabFile*>(self), 0, SEEK_SET) == 0;
}
int ReadEmbedded(void* self, void* buf, unsigned count) {
    return ReadEmbeddedCab(static_cast<EmbeddedCabFile*>(self), buf, count);
}
bool RewindDisk(void* self) {
    return _lseeki64(*static_cast<int*>(self), 0, SEEK_SET) == 0;
}
int ReadDisk(void* self, void* buf, unsigned count) {
    return _read(*static_cast<int*>(self), buf, count);
}

// Reads size bytes from the cabinet's start on; false on a short read.
bool ReadStart(const CabSource& source, void* buf, size_t size) {
    if (!source.rewind(source.self))
        return false;
    char* p = static_cast<char*>(buf);
    while (size > 0) {
        const unsigned want = size < kReadChunk ? static_cast<unsigned>(size) : kReadChunk;
        const int got = source.read(source.self, p, want);
        if (got <= 0)
            return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// One part of the payload digested on a stream of its own: from its offset in the cabinet, its
// length of bytes; crc and ok are the answer.
struct DigestPart {
    uint64_t from;
    uint64_t length;
    uint32_t crc;
    bool ok;
};

// The embedded cabinet read through a stream of the program's file of its own, so that the
// digest's thread shares nothing with the run's.
struct OwnCabinet {
    FILE* file;
    uint64_t base;
    uint64_t length;
};
bool RewindOwn(void* self) {
    OwnCabinet* own = static_cast<OwnCabinet*>(self);
    return _fseeki64(own->file, static_cast<int64_t>(own->base), SEEK_SET) == 0;
}
int ReadOwn(void* self, void* buf, unsigned count) {
    const size_t got = fread(buf, 1, count, static_cast<OwnCabinet*>(self)->file);
    return got > 0 ? static_cast<int>(got) : 0;
}

// The CRC-32C of source's length bytes; false on a short read or no memory.
bool SourceCrc(const CabSource& source, uint32_t* crc) {
    *crc = 0;
    unsigned char* buf = static_cast<unsigned char*>(malloc(kReadChunk));
    uint64_t left = source.length;
    if (buf && source.rewind(source.self)) {
        while (left > 0) {
            const unsigned want = left < kReadChunk ? static_cast<unsigned>(left) : kReadChunk;
            const int got = source.read(source.self, buf, want);
            if (got <= 0)
                break;
            *crc = Crc32c(*crc, buf, static_cast<size_t>(got));
            left -= static_cast<uint64_t>(got);
        }
    }
    free(buf);
    return buf && left == 0;
}

unsigned __stdcall DigestOnOwnStream(void* argument) {
    DigestPart* part = static_cast<DigestPart*>(argument);
    OwnCabinet own = {OpenOwnFile(), GetOverlayOffset() + part->from, part->length};
    part->ok = own.file && SourceCrc({own.length, RewindOwn, ReadOwn, &own}, &part->crc);
    if (own.file)
        fclose(own.file);
    return 0;
}

// The CRC-32C of the embedded cabinet's first size bytes; false on a short read or no memory.
// The two halves are read and summed at once, on two streams and threads: the check then costs
// about half the time of one pass over the payload.
bool PayloadCrc(uint64_t size, uint32_t* crc) {
    DigestPart low = {0, size / 2, 0, false};
    DigestPart high = {size / 2, size - size / 2, 0, false};
    HANDLE helper =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DigestOnOwnStream, &low, 0, nullptr));
    if (!helper)
        DigestOnOwnStream(&low);
    DigestOnOwnStream(&high);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    *crc = Crc32cCombine(low.crc, high.crc, high.length);
    return low.ok && high.ok;
}

// A cabinet on the disk, opened as the library would open it, with its size.
struct DiskCabinet {
    int fd = -1;
    uint64_t length = 0;
    CabSource Source() { return {length, RewindDisk, ReadDisk, &fd}; }
};

bool OpenDiskCabinet(const char* name, DiskCabinet* cabinet) {
    cabinet->fd = OpenCabinetPart(name, _O_RDONLY | _O_BINARY);
    if (cabinet->fd == -1)
        return false;
    const int64_t length = _lseeki64(cabinet->fd, 0, SEEK_END);
    cabinet->length = length > 0 ? static_cast<uint64_t>(length) : 0;
    return true;
}

// The header fields a set is followed by, with the next cabinet's name copied out.
struct SetLink {
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0;
    char next[kMaxNameBytes + 1] = ""; // empty: the last cabinet
};

// Reads the header of the cabinet in source as far as its set's names; false when it is no
// cabinet or its header is damaged or cut.
bool ReadSetLink(const CabSource& source, SetLink* link) {
    size_t size = kCfheadSizeof;
    for (;;) {
        if (size > source.length)
            return false;
        unsigned char* head = static_cast<unsigned char*>(malloc(size));
        if (!head)
            return false;
        CabTableHeader header = {};
        size_t needed = 0;
        const CabTableResult read = ReadStart(source, head, size)
                                        ? ReadCabTable(head, size, &header, &needed, nullptr, nullptr)
                                        : kTableDamaged;
        if (header.namesRead) {
            link->setId = header.setId;
            link->cabinetIndex = header.cabinetIndex;
            link->next[0] = '\0';
            if (header.nextName)
                strncat(link->next, header.nextName, kMaxNameBytes);
        }
        free(head);
        if (header.namesRead)
            return true;
        if (read != kTableNeedMore || needed <= size)
            return false;
        size = needed; // grows at most twice: to the reserve's size, then to the names
    }
}

// One later cabinet as the digest begun at start-up found it.
struct PartDigest {
    bool read = false; // opened and read whole
    uint64_t length = 0;
    uint32_t crc = 0;
};

// The digest started early (StartPayloadDigest): its thread, and what it found.
HANDLE s_digestThread = nullptr;
uint64_t s_digestSize = 0;
uint32_t s_digestCrc = 0;
bool s_digestRead = false;
PartDigest* s_partDigests = nullptr; // one per later cabinet of the record
uint32_t s_partDigestCount = 0;

unsigned __stdcall DigestWholePayload(void*) {
    s_digestRead = PayloadCrc(s_digestSize, &s_digestCrc);
    if (s_partDigestCount == 0)
        return 0;
    // The later cabinets, each whole, found as the run will find them.
    SetLink link;
    OwnCabinet own = {OpenOwnFile(), GetOverlayOffset(), s_digestSize};
    const bool linked = own.file && ReadSetLink({own.length, RewindOwn, ReadOwn, &own}, &link);
    if (own.file)
        fclose(own.file);
    for (uint32_t i = 0; linked && i < s_partDigestCount && link.next[0]; ++i) {
        DiskCabinet part;
        if (!OpenDiskCabinet(link.next, &part))
            break;
        s_partDigests[i].length = part.length;
        s_partDigests[i].read = SourceCrc(part.Source(), &s_partDigests[i].crc);
        if (!ReadSetLink(part.Source(), &link))
            link.next[0] = '\0';
        _close(part.fd);
    }
    return 0;
}

// The volume under a destination: its free space for this user, its cluster size and its
// root as the message names it.
struct Volume {
    bool known = false;
    uint64_t available = 0;
    uint32_t clusterBytes = 1;
    wchar_t root[MAX_PATH + 1] = {};
};

// Asks about the nearest folder of destination (UTF-8, ending in '\' or empty) that exists:
// the destination itself is usually still to be made.
void QueryVolume(const char* destination, Volume* volume) {
    wchar_t* path = destination[0] ? WidePath(destination) : Utf8ToWide(".");
    if (!path)
        return;
    size_t length = wcslen(path);
    for (;;) {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            break;
        while (length > 0 && path[length - 1] == L'\\')
            path[--length] = L'\0';
        while (length > 0 && path[length - 1] != L'\\')
            path[--length] = L'\0';
        if (length == 0) {
            free(path);
            return;
        }
    }
    ULARGE_INTEGER available, total, totalFree;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (GetDiskFreeSpaceExW(path, &available, &total, &totalFree) &&
        GetVolumePathNameW(path, volume->root, MAX_PATH) &&
        GetDiskFreeSpaceW(volume->root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &totalClusters)) {
        volume->known = true;
        volume->available = available.QuadPart;
        const uint64_t cluster = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
        volume->clusterBytes =
            cluster > 0 && cluster <= (1u << 31) ? static_cast<uint32_t>(cluster) : 1;
    }
    free(path);
}

// What the walk over the file table gathers.
struct TableWalk {
    const char* destination;
    uint32_t clusterBytes;
    uint64_t needed; // bytes of whole clusters
    uint64_t bytes;  // bytes of the files
    int code;        // 0, CAB_ERROR_BAD_NAME or FDIERROR_ALLOC_FAIL
    char* refused;   // the refused name as it can be shown
};

bool VisitFile(void* context, const CabTableFile& file) {
    TableWalk* walk = static_cast<TableWalk*>(context);
    // A file continued from an earlier cabinet was written with that one.
    if (file.folder == kFolderContinuedFromPrev || file.folder == kFolderContinuedPrevAndNext)
        return true;
    const bool utf8 = (file.attribs & kAttrNameIsUtf8) != 0;
    char* name = nullptr;
    const DecodeResult decoded = DecodeArchivedName(file.name, utf8, CP_ACP, &name);
    OutputPath out = {};
    ComposeResult composed = kUnsafeName;
    if (decoded == kDecoded)
        composed = ComposeOutputPath(walk->destination, name, &out);
    free(name);
    FreeOutputPath(&out);
    if (decoded == kDecodeNoMemory || composed == kNoMemory) {
        walk->code = FDIERROR_ALLOC_FAIL;
        return false;
    }
    if (composed != kComposed) {
        walk->code = CAB_ERROR_BAD_NAME;
        walk->refused = DisplayArchivedName(file.name, utf8, CP_ACP);
        return false;
    }
    const uint64_t clusters =
        (file.size + static_cast<uint64_t>(walk->clusterBytes) - 1) / walk->clusterBytes;
    walk->needed += clusters * walk->clusterBytes;
    walk->bytes += file.size;
    return true;
}

// The declared size of the cabinet in source; 0 when it is no cabinet, after *code is set.
uint32_t DeclaredSize(const CabSource& source, int* code) {
    unsigned char head[kCfheadSizeof];
    CabTableHeader header = {};
    size_t needed = 0;
    if (source.length < sizeof(head) || !ReadStart(source, head, sizeof(head)) ||
        ReadCabTable(head, sizeof(head), &header, &needed, nullptr, nullptr) == kTableNotCabinet) {
        *code = FDIERROR_NOT_A_CABINET;
        return 0;
    }
    *code = header.cabinetSize > source.length ? CAB_ERROR_INCOMPLETE : 0;
    return header.cabinetSize;
}

// The names: walks the file table of a cabinet of cabinetSize bytes, all present, adding its
// files to walk. 0, CAB_ERROR_INCOMPLETE, or walk->code.
int WalkTable(const CabSource& source, uint32_t cabinetSize, TableWalk* walk) {
    CabTableHeader header = {};
    size_t needed = 0;
    size_t size = cabinetSize < kFirstTableRead ? cabinetSize : kFirstTableRead;
    CabTableResult read = kTableNeedMore;
    while (read == kTableNeedMore) {
        unsigned char* table = static_cast<unsigned char*>(malloc(size));
        if (!table)
            return FDIERROR_ALLOC_FAIL;
        read = ReadStart(source, table, size)
                   ? ReadCabTable(table, size, &header, &needed, VisitFile, walk)
                   : kTableDamaged;
        free(table);
        if (read == kTableNeedMore && needed <= size)
            read = kTableDamaged; // asks for no more than it had: cannot end
        size = needed;
    }
    if (read == kTableDamaged)
        return CAB_ERROR_INCOMPLETE;
    return walk->code;
}

// The message of a refused name, or the room: whether the files walked fit on the volume.
int CheckNamesAndRoom(int code, const Volume& volume, TableWalk* walk, char** message) {
    if (code == CAB_ERROR_BAD_NAME)
        *message = Message(code, walk->refused ? walk->refused : "?");
    free(walk->refused);
    walk->refused = nullptr;
    if (code)
        return code;
    if (volume.known && walk->needed > volume.available) {
        char amount[32];
        FormatMegabytes(walk->needed - volume.available, amount, sizeof(amount));
        char* root = WideToUtf8(volume.root);
        const char* parts[] = {"free ", amount, " on ", root ? root : "the drive"};
        char detail[64 + MAX_PATH * 3] = "";
        for (const char* part : parts)
            strncat(detail, part, sizeof(detail) - strlen(detail) - 1);
        free(root);
        *message = Message(CAB_ERROR_NO_ROOM, detail, " and try again");
        return CAB_ERROR_NO_ROOM;
    }
    return 0;
}

// The digest of the embedded cabinet against the record's: 0 or CAB_ERROR_INCOMPLETE.
int CheckEmbeddedDigest(const PayloadRecord& record, uint64_t length, HWND notify) {
    if (record.payloadSize > length)
        return CAB_ERROR_INCOMPLETE;
    // Begun at start-up, while the user chose the folder, the digest is usually done.
    const bool pending = !s_digestThread || WaitForSingleObject(s_digestThread, 0) == WAIT_TIMEOUT;
    if (pending && notify && record.payloadSize >= kCheckNoticeBytes)
        PostMessageW(notify, WM_EXTRACT_CHECKING, 0, 0);
    if (s_digestThread)
        WaitForSingleObject(s_digestThread, INFINITE);
    else
        s_digestRead = PayloadCrc(record.payloadSize, &s_digestCrc);
    return s_digestRead && s_digestCrc == record.crc32c ? 0 : CAB_ERROR_INCOMPLETE;
}

// Checks the later cabinet number index (0: the first after the embedded one) named by
// link->next, which follows the cabinet link held, and walks its table; link then holds the
// later cabinet's own. record is null for an installer without one. 0 or a code; *message
// names the cabinet.
int CheckLaterCabinet(uint32_t index, const PayloadRecord* record, SetLink* link, TableWalk* walk,
                      char** message) {
    char name[kMaxNameBytes + 1];
    strcpy(name, link->next);
    const SetLink previous = *link;
    DiskCabinet part;
    if (!OpenDiskCabinet(name, &part)) {
        *message = Message(FDIERROR_CABINET_NOT_FOUND, name);
        return FDIERROR_CABINET_NOT_FOUND;
    }
    int code = 0;
    const uint32_t cabinetSize = DeclaredSize(part.Source(), &code);
    if (code == 0 && !ReadSetLink(part.Source(), link))
        code = CAB_ERROR_INCOMPLETE;
    if (code == 0 && (link->setId != previous.setId ||
                      link->cabinetIndex != static_cast<uint16_t>(previous.cabinetIndex + 1)))
        code = FDIERROR_WRONG_CABINET;
    if (code == 0 && record) {
        const PayloadPart expected = PayloadPartAt(*record, index);
        uint32_t crc = 0;
        const PartDigest* early = index < s_partDigestCount ? &s_partDigests[index] : nullptr;
        bool same = part.length == expected.size;
        if (same && early && early->read && early->length == part.length)
            crc = early->crc;
        else if (same)
            same = SourceCrc(part.Source(), &crc);
        if (!same || crc != expected.crc32c)
            code = CAB_ERROR_INCOMPLETE;
    }
    if (code == 0)
        code = WalkTable(part.Source(), cabinetSize, walk);
    _close(part.fd);
    if (code == CAB_ERROR_INCOMPLETE) {
        char tail[kMaxNameBytes + 4] = " (";
        strcat(strcat(tail, name), ")");
        *message = Message(code, nullptr, tail);
    }
    else if (code != 0 && code != CAB_ERROR_BAD_NAME && code != FDIERROR_ALLOC_FAIL)
        *message = Message(code, name);
    return code;
}

// The checks on the open embedded cabinet and the later cabinets of its set; 0 or a code,
// *message as above.
int CheckSet(EmbeddedCabFile* file, const char* destination, HWND notify, uint64_t* bytes,
             char** message) {
    const CabSource source = {file->length > 0 ? static_cast<uint64_t>(file->length) : 0,
                              RewindEmbedded, ReadEmbedded, file};
    int code = 0;
    const uint32_t cabinetSize = DeclaredSize(source, &code);
    if (code)
        return code;
    PayloadRecord record;
    const bool recorded = FindPayloadRecord(&record);
    if (recorded && (code = CheckEmbeddedDigest(record, source.length, notify)) != 0)
        return code;
    SetLink link;
    if (!ReadSetLink(source, &link))
        return CAB_ERROR_INCOMPLETE;
    Volume volume;
    QueryVolume(destination, &volume);
    TableWalk walk = {destination, volume.clusterBytes, 0, 0, 0, nullptr};
    code = WalkTable(source, cabinetSize, &walk);
    uint32_t later = 0;
    // A record that lists no later cabinet comes from a payload of one cabinet: whatever set
    // it names is checked without digests.
    const PayloadRecord* digests = recorded && record.laterParts ? &record : nullptr;
    for (; code == 0 && link.next[0]; ++later) {
        if (digests && later >= record.laterParts)
            code = CAB_ERROR_INCOMPLETE; // a longer set than was packed
        else
            code = CheckLaterCabinet(later, digests, &link, &walk, message);
    }
    if (code == 0 && digests && later < record.laterParts)
        code = CAB_ERROR_INCOMPLETE; // a header lost the next cabinet's name
    *bytes = walk.bytes;
    return *message ? code : CheckNamesAndRoom(code, volume, &walk, message);
}

// The names and the room of one cabinet of cabinetSize bytes, all present.
int CheckTable(const CabSource& source, uint32_t cabinetSize, const char* destination,
               uint64_t* bytes, char** message) {
    Volume volume;
    QueryVolume(destination, &volume);
    TableWalk walk = {destination, volume.clusterBytes, 0, 0, 0, nullptr};
    const int code = WalkTable(source, cabinetSize, &walk);
    *bytes = walk.bytes;
    return CheckNamesAndRoom(code, volume, &walk, message);
}

} // namespace

bool FindPayloadRecord(PayloadRecord* record) {
    const HMODULE image = g_hInstance ? g_hInstance : GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(kPayloadRecordId),
                                      MAKEINTRESOURCEW(10)); // RT_RCDATA
    const HGLOBAL loaded = found ? LoadResource(image, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data && ReadPayloadRecord(data, SizeofResource(image, found), record);
}

void FormatMegabytes(uint64_t bytes, char* out, size_t outSize) {
    const uint64_t tenths =
        bytes / (1u << 20) * 10 + ((bytes % (1u << 20)) * 10 + (1u << 20) - 1) / (1u << 20);
    char digits[24];
    size_t n = 0;
    uint64_t whole = tenths / 10;
    do {
        digits[n++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole);
    size_t at = 0;
    while (n > 0 && at + 1 < outSize)
        out[at++] = digits[--n];
    const char tail[] = {'.', static_cast<char>('0' + tenths % 10), ' ', 'M', 'B', '\0'};
    for (size_t i = 0; i < sizeof(tail) && at < outSize; ++i)
        out[at++] = tail[i];
    out[outSize - 1] = '\0';
}

void StartPayloadDigest() {
    PayloadRecord record;
    if (s_digestThread || !FindPayloadRecord(&record))
        return;
    s_digestSize = record.payloadSize;
    s_partDigests = record.laterParts ? new (std::nothrow) PartDigest[record.laterParts] : nullptr;
    s_partDigestCount = s_partDigests ? record.laterParts : 0;
    s_digestThread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, DigestWholePayload, nullptr, 0, nullptr));
}

int CheckBeforeExtracting(const char* destination, HWND notify, uint64_t* payloadBytes,
                          char** message) {
    *message = nullptr;
    uint64_t bytes = 0;
    char* normalised = NormaliseDestination(destination);
    if (!normalised)
        return FDIERROR_ALLOC_FAIL;
    // Without its own file the program cannot read its payload; the run reports that as it
    // always has.
    EmbeddedCabFile* file = OpenEmbeddedCab();
    const int code = file ? CheckSet(file, normalised, notify, &bytes, message) : 0;
    if (payloadBytes)
        *payloadBytes = bytes;
    if (file)
        ReleaseEmbeddedCab(file);
    free(normalised);
    if (code && !*message)
        *message = Message(code, nullptr);
    return code;
}

int CheckContinuation(const char* path, const char* destination, char** message) {
    *message = nullptr;
    // The library reports a part it cannot open itself, as it always has.
    DiskCabinet part;
    if (!OpenDiskCabinet(path, &part))
        return 0;
    int code = 0;
    const uint32_t cabinetSize = DeclaredSize(part.Source(), &code);
    uint64_t bytes = 0;
    if (!code)
        code =
            CheckTable(part.Source(), cabinetSize, destination ? destination : "", &bytes, message);
    _close(part.fd);
    if (code && !*message)
        *message = Message(code, nullptr);
    return code;
}
