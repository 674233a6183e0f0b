#include "set_parts.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "embedded_file.h"
#include "wide_path.h"

bool IsBareCabinetName(const char* name) {
    return name && name[0] && !strpbrk(name, "\\/:");
}

wchar_t* PathBesideProgram(const char* name) {
    if (!IsBareCabinetName(name))
        return nullptr;
    const int nameChars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, nullptr, 0);
    wchar_t* own = nameChars > 0 ? OwnPath() : nullptr;
    if (!own)
        return nullptr;
    wchar_t* slash = wcsrchr(own, L'\\');
    const size_t folder = slash ? static_cast<size_t>(slash - own) + 1 : 0;
    wchar_t* path =
        static_cast<wchar_t*>(malloc((folder + static_cast<size_t>(nameChars)) * sizeof(wchar_t)));
    if (path) {
        wmemcpy(path, own, folder);
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name, -1, path + folder, nameChars);
    }
    free(own);
    // Beside a program in a deep folder the plain path may pass MAX_PATH.
    return LongFormPath(path);
}

int OpenCabinetPart(const char* name, int oflag) {
    wchar_t* beside = PathBesideProgram(name);
    int fd = beside ? _wopen(beside, oflag) : -1;
    free(beside);
    if (fd == -1)
        fd = _open(name, oflag);
    return fd;
}
