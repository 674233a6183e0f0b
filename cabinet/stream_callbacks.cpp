#include "stream_callbacks.h"

#include <fcntl.h>
#include <io.h>
#include <new>
#include <stdlib.h>
#include <string.h>

#include "embedded_file.h"
#include "set_parts.h"
#include "unmask.h"

int g_writeFailed = 0;
uint64_t g_bytesWritten = 0;
std::atomic<uint32_t> g_writtenKiB{0};
INT_PTR g_openOutput = 0;

static CabStreamState s_streamState;

CabStreamState& StreamState() {
    return s_streamState;
}

// The embedded record behind hf with its entry's index in *index, or null (index -1) for a
// disk handle.
static EmbeddedCabFile* EmbeddedFromHandle(INT_PTR hf, int* index) {
    *index = hf == 0 || hf == -1 ? -1 : s_streamState.map.Find(hf);
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
        s_streamState.map.Set(h, 0);
    } catch (const char*) {
        // A full table: the library takes -1 as a failed open and goes on.
        ReleaseEmbeddedCab(file);
        return -1;
    }
    return h;
}

UINT DIAMONDAPI CabRead(INT_PTR hf, void* pv, UINT cb) {
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(hf, &i);
    if (!file)
        return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
    const int r = ReadEmbeddedCab(file, pv, cb);
    CMap::Entry& entry = s_streamState.map.entries[i];
    if (entry.value < 0)
        return static_cast<UINT>(r); // offset unknown since a failed seek
    if (s_streamState.keyLength != 0 && r > 0)
        UnmaskChunk(static_cast<unsigned char*>(pv), static_cast<uint32_t>(r), s_streamState.key,
                    s_streamState.keyLength, entry.value);
    entry.value += r;
    return static_cast<UINT>(r);
}

UINT DIAMONDAPI CabWrite(INT_PTR hf, void* pv, UINT cb) {
    const int written = _write(static_cast<int>(hf), pv, cb);
    // Some libraries ignore this result; the run fails on the flag instead.
    if (written < 0 || static_cast<UINT>(written) != cb)
        g_writeFailed = 1;
    if (written > 0) {
        g_bytesWritten += static_cast<uint64_t>(written);
        g_writtenKiB.store(static_cast<uint32_t>(g_bytesWritten >> 10), std::memory_order_relaxed);
    }
    return static_cast<UINT>(written);
}

int DIAMONDAPI CabClose(INT_PTR hf) {
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(hf, &i);
    if (!file) {
        if (hf == g_openOutput)
            g_openOutput = 0;
        return _close(static_cast<int>(hf));
    }
    ReleaseEmbeddedCab(file);
    s_streamState.map.RemoveAt(i);
    return 0;
}

LONG DIAMONDAPI CabSeek(INT_PTR hf, LONG dist, int seektype) {
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(hf, &i);
    if (!file)
        return _lseek(static_cast<int>(hf), dist, seektype);
    const LONG p = SeekEmbeddedCab(file, dist, seektype);
    s_streamState.map.entries[i].value = p;
    return p;
}

HFDI CreateCabContext(decltype(&::FDICreate) create, PERF erf) {
    return create(CabAlloc, CabFree, CabOpen, CabRead, CabWrite, CabClose, CabSeek, cpu80386, erf);
}

LONG SeekCabFile(INT_PTR hf, LONG distance, int origin) {
    int i;
    EmbeddedCabFile* file = EmbeddedFromHandle(hf, &i);
    return file ? SeekEmbeddedCab(file, distance, origin)
                : _lseek(static_cast<int>(hf), distance, origin);
}
