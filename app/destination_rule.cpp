#include "destination_rule.h"

#include <cwchar>

namespace {

constexpr wchar_t kExtractFolder[] = L"\\Extract";

// Upper case for ASCII and Latin-1 letters, enough for the folders compared here.
wchar_t Fold(wchar_t c) {
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return static_cast<wchar_t>(c - 0x20);
    return c;
}

// Writes folder + "\Extract" into out when it fits limit and outCount; false otherwise.
bool Compose(const wchar_t* folder, size_t limit, wchar_t* out, size_t outCount) {
    if (!folder || !folder[0])
        return false;
    const size_t length = wcslen(folder) + wcslen(kExtractFolder);
    if (length >= limit || length >= outCount)
        return false;
    wcscpy(out, folder);
    wcscat(out, kExtractFolder);
    return true;
}

} // namespace

bool IsInsideFolder(const wchar_t* path, const wchar_t* folder) {
    if (!path || !folder || !folder[0])
        return false;
    size_t n = wcslen(folder);
    while (n > 0 && folder[n - 1] == L'\\')
        --n; // "C:\" and "C:" name the same root
    for (size_t i = 0; i < n; ++i) {
        if (Fold(path[i]) != Fold(folder[i]))
            return false; // a shorter path stops here at its terminator
    }
    return path[n] == L'\0' || path[n] == L'\\';
}

bool ProposeDestination(const wchar_t* working, const wchar_t* windows,
                        const wchar_t* programFolder, const wchar_t* profile, size_t limit,
                        wchar_t* out, size_t outCount) {
    if (!IsInsideFolder(working, windows) && Compose(working, limit, out, outCount))
        return true;
    if (!IsInsideFolder(programFolder, windows) && Compose(programFolder, limit, out, outCount))
        return true;
    return Compose(profile, limit, out, outCount);
}
