#include "payload_rules.h"

#include <cstdio>
#include <strings.h>

#include "names.h"

bool IsValidUtf8(const std::string& s) {
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const uint8_t c = static_cast<uint8_t>(s[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1, cp = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2, cp = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= extra)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t cc = static_cast<uint8_t>(s[i + k]);
            if ((cc & 0xc0) != 0x80)
                return false;
            cp = cp << 6 | (cc & 0x3f);
        }
        static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[extra] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += extra + 1;
    }
    return true;
}

// The reason IsSafeArchivedName refuses name, in words.
static const char* UnsafeReason(const std::string& name) {
    if (name.empty())
        return "empty name";
    if (name[0] == '\\' || name[0] == '/')
        return "absolute path";
    if (name.find(':') != std::string::npos)
        return "':' names a drive or a stream";
    return "a '..' component climbs out of the destination";
}

std::string QuoteName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        const uint8_t b = static_cast<uint8_t>(c);
        if (b < 0x20 || b == 0x7f || c == '"') {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\x%02x", b);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string NameProblem(const std::string& name, uint16_t attributes) {
    const std::string quoted = QuoteName(name);
    if (name.find('\0') != std::string::npos || !IsSafeArchivedName(name.c_str()))
        return "name " + quoted + ": " + UnsafeReason(name);
    if (name.size() > kMaxNameBytes)
        return "name " + quoted + ": " + std::to_string(name.size()) + " bytes, over " +
               std::to_string(kMaxNameBytes) + " (259 less " + std::to_string(kDestinationReserve) +
               " kept for the destination)";
    if ((attributes & kAttrNameIsUtf8) && !IsValidUtf8(name))
        return "name " + quoted + ": marked UTF-8 but is not valid UTF-8";
    return "";
}

// True when name, at the top of the payload, is one the stub starts after extraction.
static bool IsStartedProgram(const std::string& name) {
    return strcasecmp(name.c_str(), "Setup.exe") == 0 ||
           strcasecmp(name.c_str(), "StdSetup.exe") == 0;
}

void CheckPayload(const CabInfo& info, Findings* findings) {
    bool hasProgram = false;
    for (const CabFile& f : info.files) {
        const std::string problem = NameProblem(f.name, f.attributes);
        if (!problem.empty())
            findings->errors.push_back(problem);
        hasProgram = hasProgram || IsStartedProgram(f.name);
    }
    if (info.flags & kCabNextCabinet)
        findings->warnings.push_back("continues in cabinet " + QuoteName(info.nextCabinet) +
                                     ": the stub looks for it in the user's working folder");
    if (info.flags & kCabPrevCabinet)
        findings->warnings.push_back("continues cabinet " + QuoteName(info.prevCabinet) +
                                     ": the stub looks for it in the user's working folder");
    if (!hasProgram)
        findings->warnings.push_back(
            "no Setup.exe or StdSetup.exe at the top: nothing will be started after extraction");
}
