#include "volume_room.h"

#include <stdlib.h>
#include <string.h>

#include "cab_errors.h"
#include "owned.h"
#include "wide_path.h"

void QueryVolume(const char* destination, Volume* volume) {
    // GetVolumePathNameW takes a relative path (an empty destination is the working folder)
    // for one on the boot volume: the walk starts from the full path.
    OwnedBlock<wchar_t> given(WidePath(destination[0] ? destination : "."));
    const DWORD size = given ? GetFullPathNameW(given.get(), 0, nullptr, nullptr) : 0;
    OwnedBlock<wchar_t> path(size ? static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)))
                                  : nullptr);
    if (!path || GetFullPathNameW(given.get(), size, path.get(), nullptr) >= size)
        return;
    wchar_t* p = path.get();
    size_t length = wcslen(p);
    for (;;) {
        const DWORD attributes = GetFileAttributesW(p);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            break;
        while (length > 0 && p[length - 1] == L'\\')
            p[--length] = L'\0';
        while (length > 0 && p[length - 1] != L'\\')
            p[--length] = L'\0';
        if (length == 0)
            return;
    }
    ULARGE_INTEGER available, total, totalFree;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (GetDiskFreeSpaceExW(p, &available, &total, &totalFree) &&
        GetVolumePathNameW(p, volume->root, MAX_PATH) &&
        GetDiskFreeSpaceW(volume->root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &totalClusters)) {
        volume->known = true;
        volume->available = available.QuadPart;
        const uint64_t cluster = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
        volume->clusterBytes =
            cluster > 0 && cluster <= (1u << 31) ? static_cast<uint32_t>(cluster) : 1;
    }
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
    const char tail[] = {',', static_cast<char>('0' + tenths % 10), ' ', 'M', 'o', '\0'};
    for (size_t i = 0; i < sizeof(tail) && at < outSize; ++i)
        out[at++] = tail[i];
    out[outSize - 1] = '\0';
}

int CheckRoom(const Volume& volume, uint64_t needed, char** text) {
    if (!volume.known || needed <= volume.available)
        return 0;
    char amount[32];
    FormatMegabytes(needed - volume.available, amount, sizeof(amount));
    OwnedBlock<char> root(WideToUtf8(volume.root));
    const char* parts[] = {"libérez ", amount, " sur ", root ? root.get() : "le disque"};
    char detail[64 + MAX_PATH * 3] = "";
    for (const char* part : parts)
        strncat(detail, part, sizeof(detail) - strlen(detail) - 1);
    *text = ComposeFailureText(CAB_ERROR_NO_ROOM, detail, ", puis réessayez.");
    return CAB_ERROR_NO_ROOM;
}
