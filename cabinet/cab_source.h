// A cabinet to read from its start, whatever holds it: the embedded one through the run's
// shared stream, the embedded one through a stream of its own (another thread), or a later
// cabinet of a set on the disk. With what every check reads of one: its declared size, its
// place in a set, and its digest.
#pragma once

#include <cstdint>
#include <cstdio>

#include "cab_errors.h"
#include "embedded_file.h"
#include "names.h"

// Large reads: a digest reads a whole cabinet once, and the runtime passes reads of a whole
// number of its buffers straight to the system.
constexpr size_t kSourceReadChunk = 1 << 20;

// Its two operations are those of its kind of handle.
struct CabSource {
    uint64_t length;
    bool (*rewind)(void* self);
    int (*read)(void* self, void* buf, unsigned count); // bytes read, 0 at the end, -1 failed
    void* self;
};

// The embedded cabinet through the record's shared stream.
CabSource EmbeddedSource(EmbeddedCabFile* file);

// The embedded cabinet, or part of it, through a stream of the program's file of its own, so
// that a thread reading it shares nothing with the run.
struct OwnCabinet {
    FILE* file = nullptr; // null when the program's file cannot be opened
    uint64_t base = 0;    // file offset of the first byte
    uint64_t length = 0;
};
// Opens the stream over length bytes from the cabinet's byte from on; close with CloseOwn.
OwnCabinet OpenOwn(uint64_t from, uint64_t length);
void CloseOwn(OwnCabinet* own);
CabSource OwnSource(OwnCabinet* own);

// A later cabinet on the disk, opened as the library would open it (OpenCabinetPart).
struct DiskCabinet {
    int fd = -1;
    uint64_t length = 0;
};
// False when name cannot be opened; close with CloseDisk.
bool OpenDisk(const char* name, DiskCabinet* cabinet);
void CloseDisk(DiskCabinet* cabinet);
CabSource DiskSource(DiskCabinet* cabinet);

// Reads size bytes from the cabinet's start on: kReadOk or kReadCut.
ReadOutcome ReadStart(const CabSource& source, void* buf, size_t size);

// The CRC-32C of the source's length bytes: kReadOk, kReadNoMemory or kReadCut.
ReadOutcome SourceCrc(const CabSource& source, uint32_t* crc);

// The cabinet's declared size (cbCabinet) in *size: kReadOk; kReadNotCabinet when the source
// is shorter than a header or has no signature; kReadCut when the header cannot be read or
// declares more bytes than the source has.
ReadOutcome DeclaredSize(const CabSource& source, uint32_t* size);

// The header fields a set is followed by, with the next cabinet's name copied out.
struct SetLink {
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0;
    char next[kMaxNameBytes + 1] = ""; // empty: the last cabinet
};

// Reads the header of the cabinet in source as far as its set's names: kReadOk,
// kReadNoMemory, or kReadCut when it is no cabinet or its header is damaged or cut.
ReadOutcome ReadSetLink(const CabSource& source, SetLink* link);
