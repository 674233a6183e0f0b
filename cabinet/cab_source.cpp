#include "cab_source.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include "cab_table.h"
#include "crc32c.h"
#include "owned.h"
#include "set_parts.h"

namespace {

bool RewindEmbedded(void* self) {
    return SeekEmbeddedCab(static_cast<EmbeddedCabFile*>(self), 0, SEEK_SET) == 0;
}
int ReadEmbedded(void* self, void* buf, unsigned count) {
    return ReadEmbeddedCab(static_cast<EmbeddedCabFile*>(self), buf, count);
}

bool RewindOwn(void* self) {
    OwnCabinet* own = static_cast<OwnCabinet*>(self);
    return _fseeki64(own->file, static_cast<int64_t>(own->base), SEEK_SET) == 0;
}
int ReadOwn(void* self, void* buf, unsigned count) {
    const size_t got = fread(buf, 1, count, static_cast<OwnCabinet*>(self)->file);
    return got > 0 ? static_cast<int>(got) : 0;
}

bool RewindDisk(void* self) {
    return _lseeki64(static_cast<DiskCabinet*>(self)->fd, 0, SEEK_SET) == 0;
}
int ReadDisk(void* self, void* buf, unsigned count) {
    return _read(static_cast<DiskCabinet*>(self)->fd, buf, count);
}

} // namespace

CabSource EmbeddedSource(EmbeddedCabFile* file) {
    return {file->length > 0 ? static_cast<uint64_t>(file->length) : 0, RewindEmbedded,
            ReadEmbedded, file};
}

OwnCabinet OpenOwn(uint64_t from, uint64_t length) {
    OwnCabinet own;
    own.file = OpenOwnFile();
    own.base = GetOverlayOffset() + from;
    own.length = length;
    return own;
}

void CloseOwn(OwnCabinet* own) {
    if (own->file)
        fclose(own->file);
    own->file = nullptr;
}

CabSource OwnSource(OwnCabinet* own) {
    return {own->length, RewindOwn, ReadOwn, own};
}

bool OpenDisk(const char* name, DiskCabinet* cabinet) {
    cabinet->fd = OpenCabinetPart(name, _O_RDONLY | _O_BINARY);
    if (cabinet->fd == -1)
        return false;
    const int64_t length = _lseeki64(cabinet->fd, 0, SEEK_END);
    cabinet->length = length > 0 ? static_cast<uint64_t>(length) : 0;
    return true;
}

void CloseDisk(DiskCabinet* cabinet) {
    if (cabinet->fd != -1)
        _close(cabinet->fd);
    cabinet->fd = -1;
}

CabSource DiskSource(DiskCabinet* cabinet) {
    return {cabinet->length, RewindDisk, ReadDisk, cabinet};
}

ReadOutcome ReadStart(const CabSource& source, void* buf, size_t size) {
    if (!source.rewind(source.self))
        return kReadCut;
    char* p = static_cast<char*>(buf);
    while (size > 0) {
        const unsigned want =
            size < kSourceReadChunk ? static_cast<unsigned>(size) : kSourceReadChunk;
        const int got = source.read(source.self, p, want);
        if (got <= 0)
            return kReadCut;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return kReadOk;
}

ReadOutcome SourceCrc(const CabSource& source, uint32_t* crc) {
    *crc = 0;
    OwnedBlock<unsigned char> buf(static_cast<unsigned char*>(malloc(kSourceReadChunk)));
    if (!buf)
        return kReadNoMemory;
    if (!source.rewind(source.self))
        return kReadCut;
    for (uint64_t left = source.length; left > 0;) {
        const unsigned want =
            left < kSourceReadChunk ? static_cast<unsigned>(left) : kSourceReadChunk;
        const int got = source.read(source.self, buf.get(), want);
        if (got <= 0)
            return kReadCut;
        *crc = Crc32c(*crc, buf.get(), static_cast<size_t>(got));
        left -= static_cast<uint64_t>(got);
    }
    return kReadOk;
}

ReadOutcome DeclaredSize(const CabSource& source, uint32_t* size) {
    *size = 0;
    unsigned char head[kCfheadSizeof];
    if (source.length < sizeof(head))
        return kReadNotCabinet; // nothing there that could be a cabinet
    const ReadOutcome read = ReadStart(source, head, sizeof(head));
    if (read != kReadOk)
        return read;
    CabTableHeader header = {};
    size_t needed = 0;
    if (ReadCabTable(head, sizeof(head), &header, &needed, nullptr, nullptr) == kTableNotCabinet)
        return kReadNotCabinet;
    *size = header.cabinetSize;
    return header.cabinetSize > source.length ? kReadCut : kReadOk;
}

ReadOutcome ReadSetLink(const CabSource& source, SetLink* link) {
    size_t size = kCfheadSizeof;
    for (;;) {
        if (size > source.length)
            return kReadCut;
        OwnedBlock<unsigned char> head(static_cast<unsigned char*>(malloc(size)));
        if (!head)
            return kReadNoMemory;
        const ReadOutcome read = ReadStart(source, head.get(), size);
        if (read != kReadOk)
            return read;
        CabTableHeader header = {};
        size_t needed = 0;
        const CabTableResult table =
            ReadCabTable(head.get(), size, &header, &needed, nullptr, nullptr);
        if (header.namesRead) {
            link->setId = header.setId;
            link->cabinetIndex = header.cabinetIndex;
            link->next[0] = '\0';
            if (header.nextName)
                strncat(link->next, header.nextName, kMaxNameBytes);
            return kReadOk;
        }
        if (table != kTableNeedMore || needed <= size)
            return kReadCut;
        size = needed; // grows at most twice: to the reserve's size, then to the names
    }
}
