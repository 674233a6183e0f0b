#include "wide_path.h"

#include <stdlib.h>
#include <string.h>

// Converts n bytes (-1: up to the terminator) of codePage text; null on error or no memory.
static wchar_t* ToWide(UINT codePage, DWORD flags, const char* text) {
    if (!text)
        return nullptr;
    const int n = MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (n <= 0)
        return nullptr;
    wchar_t* wide = static_cast<wchar_t*>(malloc(static_cast<size_t>(n) * sizeof(wchar_t)));
    if (wide && MultiByteToWideChar(codePage, flags, text, -1, wide, n) != n) {
        free(wide);
        return nullptr;
    }
    return wide;
}

wchar_t* Utf8ToWide(const char* utf8) {
    return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8);
}

char* WideToUtf8(const wchar_t* wide) {
    if (!wide)
        return nullptr;
    // CP_UTF8 takes no best-fit flag nor default character: both make the call fail.
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return nullptr;
    char* utf8 = static_cast<char*>(malloc(static_cast<size_t>(n)));
    if (utf8 && WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, n, nullptr, nullptr) != n) {
        free(utf8);
        return nullptr;
    }
    return utf8;
}

// Plain paths stop at MAX_PATH, folders 12 characters earlier (room for an 8.3 name).
constexpr size_t kPlainPathLimit = MAX_PATH - 12;

wchar_t* WidePath(const char* utf8Path) {
    return LongFormPath(Utf8ToWide(utf8Path));
}

bool FolderExists(const char* path) {
    wchar_t* wide = WidePath(path[0] ? path : ".");
    const DWORD attributes = wide ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    free(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

wchar_t* LongFormPath(wchar_t* plain) {
    if (!plain || wcslen(plain) < kPlainPathLimit || wcsncmp(plain, L"\\\\?\\", 4) == 0)
        return plain;
    const DWORD n = GetFullPathNameW(plain, 0, nullptr, nullptr);
    // Room for "\\?\UNC\" in place of the leading "\\".
    wchar_t* full = n ? static_cast<wchar_t*>(malloc((n + 8) * sizeof(wchar_t))) : nullptr;
    if (!full) {
        free(plain);
        return nullptr;
    }
    const bool unc = plain[0] == L'\\' && plain[1] == L'\\';
    wchar_t* tail = full + (unc ? 6 : 4);
    const DWORD m = GetFullPathNameW(plain, n, tail, nullptr);
    free(plain);
    if (m == 0 || m >= n) {
        free(full);
        return nullptr;
    }
    if (unc && tail[0] == L'\\' && tail[1] == L'\\') {
        memcpy(full, L"\\\\?\\UNC", 7 * sizeof(wchar_t)); // the server name follows one '\'
        memmove(full + 7, tail + 1, m * sizeof(wchar_t));
    } else {
        memmove(full + 4, tail, (m + 1) * sizeof(wchar_t));
        memcpy(full, L"\\\\?\\", 4 * sizeof(wchar_t));
    }
    return full;
}

DecodeResult DecodeArchivedName(const char* bytes, bool utf8, UINT codePage, char** out) {
    *out = nullptr;
    if (!bytes)
        return kBadEncoding;
    // Validation and conversion in one: MB_ERR_INVALID_CHARS refuses what does not map.
    const UINT from = utf8 ? CP_UTF8 : codePage;
    const int n = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, bytes, -1, nullptr, 0);
    if (n <= 0)
        return GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? kDecodeNoMemory : kBadEncoding;
    if (utf8) {
        const size_t size = strlen(bytes) + 1;
        *out = static_cast<char*>(malloc(size));
        if (!*out)
            return kDecodeNoMemory;
        memcpy(*out, bytes, size);
        return kDecoded;
    }
    wchar_t* wide = ToWide(from, MB_ERR_INVALID_CHARS, bytes);
    *out = wide ? WideToUtf8(wide) : nullptr;
    free(wide);
    return *out ? kDecoded : kDecodeNoMemory;
}

char* DisplayArchivedName(const char* bytes, bool utf8, UINT codePage) {
    wchar_t* wide = ToWide(utf8 ? CP_UTF8 : codePage, 0, bytes ? bytes : "");
    char* text = wide ? WideToUtf8(wide) : nullptr;
    free(wide);
    return text;
}
