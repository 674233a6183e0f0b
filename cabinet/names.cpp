#include "names.h"

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

bool ComposeOutputPath(const char* dest, const char* name, OutputPath* out) {
    if (!IsSafeArchivedName(name))
        return false;
    const size_t destLength = dest ? strlen(dest) : 0;
    const size_t nameLength = strlen(name);
    if (destLength + nameLength >= kNameBufferSize)
        return false;
    if (destLength)
        memcpy(out->path, dest, destLength);
    size_t lastSeparator = 0; // index in name just past the last separator
    for (size_t i = 0; i < nameLength; ++i) {
        char c = name[i];
        if (IsSeparator(c)) {
            c = '\\';
            lastSeparator = i + 1;
        }
        out->path[destLength + i] = c;
    }
    out->path[destLength + nameLength] = '\0';
    memcpy(out->archiveDir, out->path + destLength, lastSeparator);
    out->archiveDir[lastSeparator] = '\0';
    out->outputDirLength = destLength + lastSeparator;
    memcpy(out->outputDir, out->path, out->outputDirLength);
    out->outputDir[out->outputDirLength] = '\0';
    out->fileName = out->path + out->outputDirLength;
    return true;
}

bool NormaliseDestination(const char* dest, char* buf, size_t size) {
    const size_t length = dest ? strlen(dest) : 0;
    const bool addSeparator = length > 0 && dest[length - 1] != '\\';
    if (length + (addSeparator ? 1 : 0) >= size)
        return false;
    if (length)
        memcpy(buf, dest, length);
    if (addSeparator)
        buf[length] = '\\';
    buf[length + (addSeparator ? 1 : 0)] = '\0';
    return true;
}
