#include "util/text.h"

#include <cstdint>

#include "util/hex.h"

// The length of the well-formed UTF-8 sequence at s[i] (1 for ASCII), its code point in
// *cp; 0 when the bytes there are not one (overlong, surrogate, cut, past U+10FFFF).
static size_t Utf8Sequence(const std::string& s, size_t i, uint32_t* cp) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    size_t extra;
    if (c < 0x80)
        extra = 0, *cp = c;
    else if ((c & 0xe0) == 0xc0)
        extra = 1, *cp = c & 0x1f;
    else if ((c & 0xf0) == 0xe0)
        extra = 2, *cp = c & 0x0f;
    else if ((c & 0xf8) == 0xf0)
        extra = 3, *cp = c & 0x07;
    else
        return 0;
    if (s.size() - i <= extra)
        return 0;
    for (size_t k = 1; k <= extra; ++k) {
        const uint8_t cc = static_cast<uint8_t>(s[i + k]);
        if ((cc & 0xc0) != 0x80)
            return 0;
        *cp = *cp << 6 | (cc & 0x3f);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (*cp < kMinimum[extra] || *cp > 0x10ffff || (*cp >= 0xd800 && *cp <= 0xdfff))
        return 0;
    return extra + 1;
}

bool IsValidUtf8(const std::string& s) {
    uint32_t cp;
    for (size_t i = 0, n; i < s.size(); i += n) {
        n = Utf8Sequence(s, i, &cp);
        if (n == 0)
            return false;
    }
    return true;
}

// True when cp is a C0 or C1 control character or DEL.
static bool IsControl(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f);
}

bool HasControlCharacter(const std::string& s) {
    uint32_t cp = 0;
    for (size_t i = 0, n; i < s.size(); i += n ? n : 1) {
        n = Utf8Sequence(s, i, &cp);
        if (IsControl(n ? cp : static_cast<uint8_t>(s[i])))
            return true;
    }
    return false;
}

// EscapeText, with '"' escaped too when quote is set.
static std::string Escape(const std::string& s, bool quote) {
    std::string out;
    uint32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8Sequence(s, i, &cp);
        const bool control = IsControl(cp) || (quote && cp == '"');
        if (n == 0 || control) {
            for (size_t k = 0; k < (n ? n : 1); ++k)
                out += "\\x" + HexByte(static_cast<uint8_t>(s[i + k]));
            i += n ? n : 1;
            continue;
        }
        out.append(s, i, n);
        i += n;
    }
    return out;
}

std::string EscapeText(const std::string& s) {
    return Escape(s, false);
}

std::string QuoteName(const std::string& name) {
    return "\"" + Escape(name, true) + "\"";
}
