#include "stream_callbacks.h"

#include <fcntl.h>
#include <io.h>
#include <new>
#include <stdlib.h>
#include <string.h>

#include "embedded_file.h"
#include "set_parts.h"
#include "unmask.h"

static CabStreamState s_streamState;

CabStreamState& StreamState() {
    return s_streamState;
}

// The embedded record behind hf with its entry's index in the lane's map in *index, or null
// (index -1) for a disk handle.
static EmbeddedCabFile* EmbeddedFromHandle(const CabLane* lane, INT_PTR hf, int* index) {
    *index = hf == 0 || hf == -1 ? -1 : lane->map.Find(hf);
    return *index < 0 ? nullptr : reinterpret_cast<EmbeddedCabFile*>(hf);
}

// _open, and once more after clearing the attributes of an existing file that refuses to be
// replaced.
static INT_PTR OpenDiskFile(const char* name, int oflag, int pmode) {
    const int fd = _open(name, oflag, pmode);
    if (fd != -1 || !(oflag & _O_CREAT))
        return fd;
    // An existing read-only, hidden or system file refuses to be replaced until its
    // attributes are cleared. Trying first spares every new file a lookup.
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    return _open(name, oflag, pmode);
}

void* DIAMONDAPI CabAlloc(ULONG cb) {
    return malloc(cb);
}

void DIAMONDAPI CabFree(void* pv) {
    free(pv);
}

INT_PTR DIAMONDAPI CabOpen(char* name, int oflag, int pmode) {
    if (!name)
        return -1;
    // The library opens only cabinets, to read them; the later ones of a set come from disk.
    if (_stricmp(name, s_streamState.cabName) != 0)
        return oflag & _O_CREAT ? OpenDiskFile(name, oflag, pmode) : OpenCabinetPart(name, oflag);
    EmbeddedCabFile* file = OpenEmbeddedCab();
    if (!file)
        return -1;
    const INT_PTR h = reinterpret_cast<INT_PTR>(file);
    try {
        CurrentLane()->map.Set(h, 0);
    } catch (const char*) {
        // A full table: the library takes -1 as a failed open and goes on.
        ReleaseEmbeddedCab(file);
        return -1;
    }
    return h;
}

// Copies the part of [position, position + cb) that lies in the lane's tables into pv and
// moves the record past it: the bytes copied.
static UINT ReadFromTables(const CabLane* lane, EmbeddedCabFile* file, void* pv, UINT cb) {
    if (!lane->tables || file->position < 0 ||
        static_cast<uint32_t>(file->position) >= lane->tablesLength)
        return 0;
    const uint32_t left = lane->tablesLength - static_cast<uint32_t>(file->position);
    const UINT n = cb < left ? cb : left;
    memcpy(pv, lane->tables + file->position, n);
    SeekEmbeddedCab(file, static_cast<LONG>(file->position + static_cast<int32_t>(n)), SEEK_SET);
    return n;
}

UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb) {
    CabLane* lane = CurrentLane();
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(lane, hf, &i);
    if (!file)
        return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
    CMap::Entry& entry = lane->map.entries[i];
    const UINT fromTables = ReadFromTables(lane, file, pv, cb);
    entry.value += static_cast<int32_t>(fromTables);
    if (fromTables == cb)
        return cb;
    unsigned char* rest = static_cast<unsigned char*>(pv) + fromTables;
    const int r = ReadEmbeddedCab(file, rest, cb - fromTables);
    if (r < 0)
        return fromTables ? fromTables : static_cast<UINT>(r);
    if (entry.value < 0)
        return fromTables + static_cast<UINT>(r); // offset unknown since a failed seek
    if (s_streamState.keyLength != 0 && r > 0)
        UnmaskChunk(rest, static_cast<uint32_t>(r), s_streamState.key, s_streamState.keyLength,
                    entry.value);
    entry.value += r;
    return fromTables + static_cast<UINT>(r);
}

UINT DIAMONDAPI CabWrite(INT_PTR hf, void* pv, UINT cb) {
    CabLane* lane = CurrentLane();
    WaitWhileHeld();
    if (lane->stop && lane->stop->load(std::memory_order_relaxed))
        return static_cast<UINT>(-1); // another part of the run failed: this file is dropped
    const int written = _write(static_cast<int>(hf), pv, cb);
    // Some libraries ignore this result; the run fails on the flag instead.
    if (written < 0 || static_cast<UINT>(written) != cb)
        lane->writeFailed = 1;
    if (written > 0) {
        const uint64_t before = lane->bytesWritten >> 10;
        lane->bytesWritten += static_cast<uint64_t>(written);
        const uint64_t grown = (lane->bytesWritten >> 10) - before;
        if (grown)
            g_writtenKiB.fetch_add(static_cast<uint32_t>(grown), std::memory_order_relaxed);
    }
    return static_cast<UINT>(written);
}

int DIAMONDAPI CabClose(INT_PTR hf) {
    CabLane* lane = CurrentLane();
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(lane, hf, &i);
    if (!file) {
        if (hf == lane->openOutput)
            lane->openOutput = 0;
        return _close(static_cast<int>(hf));
    }
    ReleaseEmbeddedCab(file);
    lane->map.RemoveAt(i);
    return 0;
}

LONG DIAMONDAPI CabSeek(INT_PTR hf, LONG dist, int seektype) {
    CabLane* lane = CurrentLane();
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(lane, hf, &i);
    if (!file)
        return _lseek(static_cast<int>(hf), dist, seektype);
    const LONG p = SeekEmbeddedCab(file, dist, seektype);
    lane->map.entries[i].value = p;
    return p;
}

HFDI CreateCabContext(decltype(&::FDICreate) create, PERF erf) {
    return create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek, cpu80386, erf);
}

LONG SeekCabFile(INT_PTR hf, LONG distance, int origin) {
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(CurrentLane(), hf, &i);
    return file ? SeekEmbeddedCab(file, distance, origin)
                : _lseek(static_cast<int>(hf), distance, origin);
}
