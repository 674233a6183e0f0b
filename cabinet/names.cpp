#include "names.h"

#include <cstdlib>
#include <cstring>

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsSafeArchivedName(const char* name) {
    if (!name || !*name || IsSeparator(name[0]))
        return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == ':')
            return false;
        if (*p == '\0' || IsSeparator(*p)) {
            // Windows drops trailing dots and spaces, so "..", ". ." and ".. " all climb.
            size_t length = static_cast<size_t>(p - component);
            bool onlyDots = length > 0;
            for (const char* q = component; q < p; ++q)
                onlyDots = onlyDots && (*q == '.' || *q == ' ');
            if (onlyDots && !(length == 1 && component[0] == '.'))
                return false;
            if (*p == '\0')
                return true;
            component = p + 1;
        }
    }
}

const char* ArchivedBaseName(const char* name) {
    const char* base = name;
    for (const char* p = name; *p; ++p) {
        if (IsSeparator(*p))
            base = p + 1;
    }
    return base;
}

// Copies one component of n bytes to dst without its trailing dots and spaces; returns the
// bytes written.
static size_t CopyTrimmedComponent(char* dst, const char* src, size_t n) {
    while (n > 0 && (src[n - 1] == '.' || src[n - 1] == ' '))
        --n;
    memcpy(dst, src, n);
    return n;
}

ComposeResult ComposeOutputPath(const char* dest, const char* name, OutputPath* out) {
    out->path = nullptr;
    if (!IsSafeArchivedName(name))
        return kUnsafeName;
    const size_t destLength = dest ? strlen(dest) : 0;
    const size_t nameLength = strlen(name);
    char* path = static_cast<char*>(malloc(destLength + nameLength + 1));
    if (!path)
        return kNoMemory;
    if (destLength)
        memcpy(path, dest, destLength);
    size_t length = destLength;
    size_t folderLength = destLength; // just past the last separator written
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p != '\0' && !IsSeparator(*p))
            continue;
        length +=
            CopyTrimmedComponent(path + length, component, static_cast<size_t>(p - component));
        if (*p == '\0')
            break;
        path[length++] = '\\';
        folderLength = length;
        component = p + 1;
    }
    path[length] = '\0';
    out->path = path;
    out->archiveStart = destLength;
    out->outputDirLength = folderLength;
    return kComposed;
}

void FreeOutputPath(OutputPath* out) {
    free(out->path);
    out->path = nullptr;
}

char* NormaliseDestination(const char* dest) {
    const size_t length = dest ? strlen(dest) : 0;
    const bool addSeparator = length > 0 && dest[length - 1] != '\\';
    char* buf = static_cast<char*>(malloc(length + 2));
    if (!buf)
        return nullptr;
    if (length)
        memcpy(buf, dest, length);
    if (addSeparator)
        buf[length] = '\\';
    buf[length + (addSeparator ? 1 : 0)] = '\0';
    return buf;
}
