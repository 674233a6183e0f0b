#include "embedded_file.h"

#include <errno.h>
#include <new>
#include <stdlib.h>

#include "lane.h"
#include "le.h"
#include "pe_format.h"

HINSTANCE g_hInstance = nullptr;

// The lane's streamOffset says where its stream stands: the runtime's fseek drops the
// stream's buffer even when it goes nowhere, so reads that follow each other skip it and stay
// buffered. Offsets in the file are 64-bit: an installer whose cabinet is near 2 GiB passes
// 2 GiB by the program's own size.
// Large enough that a data block and the header after it come from one read of the file.
constexpr size_t kStreamBufferSize = 64 * 1024;

uint32_t GetOverlayOffset() {
    // The loaded headers are a copy of the file's first bytes. The section table follows the
    // optional header, whose size the file header gives: 224 bytes in PE32, 240 in PE32+.
    const uint8_t* image =
        reinterpret_cast<const uint8_t*>(g_hInstance ? g_hInstance : GetModuleHandleW(nullptr));
    const uint8_t* nt = image + ReadLe32(image + kDosNtOffset);
    const uint8_t* coff = nt + kPeSignatureSize;
    const unsigned sections = ReadLe16(coff + kCoffSectionCount);
    const unsigned optionalHeaderSize = ReadLe16(coff + kCoffOptionalHeaderSize);
    const uint8_t* entry = nt + kNtOptionalHeader + optionalHeaderSize;
    uint32_t end = 0;
    for (unsigned i = 0; i < sections; ++i, entry += kSectionEntrySize) {
        const uint32_t candidate =
            ReadLe32(entry + kSectionRawSize) + ReadLe32(entry + kSectionRawPointer);
        if (candidate > end)
            end = candidate;
    }
    return end;
}

wchar_t* OwnPath() {
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        wchar_t* path = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
        if (!path)
            return nullptr;
        const DWORD n = GetModuleFileNameW(nullptr, path, size);
        if (n > 0 && n < size)
            return path;
        free(path);
        // A truncated path would name another file: try again with more room.
        if (n == 0)
            return nullptr;
    }
    return nullptr;
}

FILE* OpenOwnFile() {
    wchar_t* path = OwnPath();
    FILE* file = path ? _wfopen(path, L"rb") : nullptr;
    free(path);
    return file;
}

EmbeddedCabFile* OpenEmbeddedCab() {
    CabLane* lane = CurrentLane();
    bool opened = false;
    if (!lane->selfFile) {
        lane->selfFile = OpenOwnFile();
        if (!lane->selfFile)
            return nullptr;
        setvbuf(lane->selfFile, nullptr, _IOFBF, kStreamBufferSize); // best effort
        opened = true;
    }
    EmbeddedCabFile* file = new (std::nothrow) EmbeddedCabFile;
    if (!file) {
        if (opened) {
            fclose(lane->selfFile);
            lane->selfFile = nullptr;
        }
        return nullptr;
    }
    ++lane->selfFileRefs;
    _fseeki64(lane->selfFile, 0, SEEK_END);
    const int64_t size = _ftelli64(lane->selfFile);
    lane->streamOffset = _fseeki64(lane->selfFile, 0, SEEK_SET) == 0 ? 0 : -1;
    file->reserved = 0;
    file->position = 0;
    // No cabinet passes INT32_MAX bytes: what lies beyond is not the library's to read.
    const int64_t length = size - static_cast<int64_t>(GetOverlayOffset());
    file->length = static_cast<int32_t>(length < 0 ? 0 : length > INT32_MAX ? INT32_MAX : length);
    return file;
}

void ReleaseEmbeddedCab(EmbeddedCabFile* file) {
    CabLane* lane = CurrentLane();
    delete file;
    if (--lane->selfFileRefs <= 0 && lane->selfFile) {
        fclose(lane->selfFile);
        lane->selfFile = nullptr;
        lane->streamOffset = -1;
    }
}

int ReadEmbeddedCab(EmbeddedCabFile* file, void* buf, UINT count) {
    if (file->position >= file->length)
        return 0;
    const int32_t remaining = file->length - file->position;
    const int32_t n =
        static_cast<int64_t>(count) < remaining ? static_cast<int32_t>(count) : remaining;
    CabLane* lane = CurrentLane();
    const int64_t offset = static_cast<int64_t>(GetOverlayOffset()) + file->position;
    if (offset != lane->streamOffset && _fseeki64(lane->selfFile, offset, SEEK_SET) != 0) {
        lane->streamOffset = -1;
        return -1;
    }
    const int r = static_cast<int>(fread(buf, 1, static_cast<size_t>(n), lane->selfFile));
    lane->streamOffset = r == n ? offset + r : -1; // a short read leaves the stream in doubt
    if (r > 0)
        file->position += r;
    return r;
}

LONG SeekEmbeddedCab(EmbeddedCabFile* file, LONG distance, int origin) {
    int32_t target;
    switch (origin) {
    case SEEK_SET:
        target = distance;
        break;
    case SEEK_CUR:
        target = static_cast<int32_t>(static_cast<uint32_t>(file->position) +
                                      static_cast<uint32_t>(distance));
        break;
    case SEEK_END:
        target = static_cast<int32_t>(static_cast<uint32_t>(file->length) +
                                      static_cast<uint32_t>(distance));
        break;
    default:
        errno = EBADF;
        return -1;
    }
    if (target < 0 || target >= file->length) {
        errno = EBADF;
        return -1;
    }
    file->position = target;
    return target;
}
