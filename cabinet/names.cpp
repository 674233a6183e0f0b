#include "names.h"

#include <cstdlib>
#include <cstring>

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

static char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when the n bytes at s spell word (upper case) without regard to ASCII case.
static bool SpellsUpper(const char* s, size_t n, const char* word) {
    if (strlen(word) != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (AsciiUpper(s[i]) != word[i])
            return false;
    }
    return true;
}

// True when the n bytes at s are one port digit: 1-9, or superscript 1, 2, 3 in UTF-8 or as
// the single bytes the Western code pages give them.
static bool IsPortDigit(const char* s, size_t n) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    if (n == 1)
        return (u[0] >= '1' && u[0] <= '9') || u[0] == 0xb9 || u[0] == 0xb2 || u[0] == 0xb3;
    return n == 2 && u[0] == 0xc2 && (u[1] == 0xb9 || u[1] == 0xb2 || u[1] == 0xb3);
}

// True when the component of length n at c names a DOS device: Windows looks only at the
// part before the first dot, less its trailing spaces, and ignores case.
static bool IsDeviceComponent(const char* c, size_t n) {
    size_t stem = 0;
    while (stem < n && c[stem] != '.')
        ++stem;
    while (stem > 0 && c[stem - 1] == ' ')
        --stem;
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (SpellsUpper(c, stem, device))
            return true;
    }
    return stem >= 4 && (SpellsUpper(c, 3, "COM") || SpellsUpper(c, 3, "LPT")) &&
           IsPortDigit(c + 3, stem - 3);
}

// The fault of the component of length n at c, given that it holds no separator.
static NameFault ComponentFault(const char* c, size_t n, bool exact) {
    if (n == 0)
        return kNameEmptyComponent;
    size_t kept = n;
    size_t dots = 0;
    while (kept > 0 && (c[kept - 1] == '.' || c[kept - 1] == ' '))
        dots += c[--kept] == '.';
    if (kept == 0)
        return dots >= 2 ? kNameClimbs : kNameBlankComponent;
    if (IsDeviceComponent(c, n))
        return kNameDevice;
    return exact && kept < n ? kNameTrailing : kNameOk;
}

NameFault ArchivedNameFault(const char* name, bool exact, size_t* at) {
    size_t where = 0;
    NameFault fault = kNameOk;
    if (!name || !*name) {
        fault = kNameEmpty;
    } else if (IsSeparator(name[0])) {
        fault = kNameAbsolute;
    } else {
        const char* component = name;
        for (const char* p = name; fault == kNameOk; ++p) {
            const unsigned char u = static_cast<unsigned char>(*p);
            where = static_cast<size_t>(p - name);
            if (u == ':')
                fault = kNameColon;
            else if (u >= 0x01 && u <= 0x1f)
                fault = kNameControl;
            else if (u && strchr("<>\"|?*", u))
                fault = kNameReservedChar;
            if (fault != kNameOk || (u && !IsSeparator(*p)))
                continue;
            where = static_cast<size_t>(component - name);
            fault = ComponentFault(component, static_cast<size_t>(p - component), exact);
            if (!u)
                break;
            component = p + 1;
        }
    }
    if (at)
        *at = where;
    return fault;
}

bool IsSafeArchivedName(const char* name) {
    return ArchivedNameFault(name, false, nullptr) == kNameOk;
}

bool IsExactWindowsName(const char* name) {
    return ArchivedNameFault(name, true, nullptr) == kNameOk;
}

// The upper-case partner of the two-byte UTF-8 letter at u, as a code point, or 0 when it
// has none that is also two bytes long.
static unsigned UpperOfTwoByteLetter(const unsigned char* u) {
    const unsigned cp = (u[0] & 0x1fu) << 6 | (u[1] & 0x3fu);
    if (cp >= 0xe0 && cp <= 0xfe && cp != 0xf7)
        return cp - 0x20; // Latin-1
    if (cp == 0xff)
        return 0x178;
    if (cp >= 0x3b1 && cp <= 0x3c9 && cp != 0x3c2)
        return cp - 0x20; // Greek; final sigma has no partner of its own
    if (cp >= 0x430 && cp <= 0x44f)
        return cp - 0x20; // Cyrillic
    if (cp >= 0x450 && cp <= 0x45f)
        return cp - 0x50;
    return 0;
}

void FoldNameCase(const char* name, bool utf8, char* out) {
    size_t i = 0;
    while (name[i]) {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(name + i);
        const bool twoByte = utf8 && (u[0] & 0xe0) == 0xc0 && (u[1] & 0xc0) == 0x80;
        const unsigned upper = twoByte ? UpperOfTwoByteLetter(u) : 0;
        if (upper) {
            out[i] = static_cast<char>(0xc0 | upper >> 6);
            out[i + 1] = static_cast<char>(0x80 | (upper & 0x3f));
            i += 2;
        } else {
            out[i] = IsSeparator(name[i]) ? '\\' : AsciiUpper(name[i]);
            ++i;
        }
    }
    out[i] = '\0';
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
