#include "payload/payload_rules.h"

#include <cstdio>
#include <strings.h>
#include <unordered_map>

#include "names.h"
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

// EscapeText, with '"' escaped too when quote is set.
static std::string Escape(const std::string& s, bool quote) {
    std::string out;
    uint32_t cp = 0;
    for (size_t i = 0; i < s.size();) {
        size_t n = Utf8Sequence(s, i, &cp);
        const bool control = cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || (quote && cp == '"');
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

// The component of name that starts at byte at, quoted.
static std::string QuotedComponent(const std::string& name, size_t at) {
    const size_t end = name.find_first_of("\\/", at);
    return QuoteName(name.substr(at, end == std::string::npos ? std::string::npos : end - at));
}

// The reason for fault, found at byte at of name, in words.
static std::string FaultReason(const std::string& name, NameFault fault, size_t at) {
    const std::string byte = "0x" + HexByte(at < name.size() ? static_cast<uint8_t>(name[at]) : 0);
    switch (fault) {
    case kNameOk:
        return "";
    case kNameEmpty:
        return "empty name";
    case kNameAbsolute:
        return "absolute path";
    case kNameColon:
        return "':' names a drive or a stream";
    case kNameControl:
        return std::string("control character ") + byte;
    case kNameReservedChar:
        return "'" + name.substr(at, 1) + "' is not allowed in Windows names";
    case kNameEmptyComponent:
        return "empty component (a doubled or trailing separator)";
    case kNameBlankComponent:
        return "component " + QuotedComponent(name, at) + " names no file";
    case kNameClimbs:
        return "a '..' component climbs out of the destination";
    case kNameDevice:
        return "component " + QuotedComponent(name, at) + " names a device on Windows";
    case kNameTrailing:
        return "component " + QuotedComponent(name, at) +
               " ends in a dot or space, which Windows drops";
    }
    return "refused";
}

bool CheckName(const std::string& name, uint16_t attributes, Problems* problems) {
    const std::string quoted = QuoteName(name);
    if (name.find('\0') != std::string::npos)
        return Fail(problems, "name " + quoted + ": holds a NUL byte");
    size_t at = 0;
    const NameFault fault = ArchivedNameFault(name.c_str(), true, &at);
    if (fault != kNameOk)
        return Fail(problems, "name " + quoted + ": " + FaultReason(name, fault, at));
    if (name.size() > kMaxNameBytes)
        return Fail(problems, "name " + quoted + ": " + std::to_string(name.size()) +
                                  " bytes, over the " + std::to_string(kMaxNameBytes) +
                                  " a cabinet holds");
    if ((attributes & kAttrNameIsUtf8) && !IsValidUtf8(name))
        return Fail(problems, "name " + quoted + ": marked UTF-8 but is not valid UTF-8");
    return true;
}

void CheckNameClashes(const std::vector<std::pair<std::string, bool>>& names, Problems* problems) {
    std::vector<std::string> keys(names.size());
    std::unordered_map<std::string, size_t> first; // key -> index of its first name
    for (size_t i = 0; i < names.size(); ++i) {
        keys[i].resize(names[i].first.size());
        FoldNameCase(names[i].first.c_str(), names[i].second, &keys[i][0]);
        const auto found = first.emplace(keys[i], i);
        if (found.second)
            continue;
        const std::string& earlier = names[found.first->second].first;
        if (earlier == names[i].first)
            Fail(problems, "name " + QuoteName(earlier) + " appears twice");
        else
            Fail(problems, "names " + QuoteName(earlier) + " and " + QuoteName(names[i].first) +
                               " are one file on Windows, which ignores case");
    }
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t sep = keys[i].find('\\'); sep != std::string::npos;
             sep = keys[i].find('\\', sep + 1)) {
            const auto file = first.find(keys[i].substr(0, sep));
            if (file != first.end())
                Fail(problems, "name " + QuoteName(names[file->second].first) + " is a file, but " +
                                   QuoteName(names[i].first) + " needs a folder of that name");
        }
    }
}

// True when name, at the top of the payload, is one the stub starts after extraction. A
// trailing dot or space is refused elsewhere; here it would only add a misleading warning.
static bool IsStartedProgram(std::string name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return strcasecmp(name.c_str(), "Setup.exe") == 0 ||
           strcasecmp(name.c_str(), "StdSetup.exe") == 0;
}

void CheckPayload(const CabInfo& info, Problems* problems) {
    bool hasProgram = false;
    std::vector<std::pair<std::string, bool>> names;
    for (const CabFile& f : info.files) {
        CheckName(f.name, f.attributes, problems);
        hasProgram = hasProgram || IsStartedProgram(f.name);
        names.emplace_back(f.name, (f.attributes & kAttrNameIsUtf8) != 0);
    }
    CheckNameClashes(names, problems);
    if (info.flags & kCabNextCabinet)
        Warn(problems, "continues in cabinet " + QuoteName(info.nextCabinet) +
                           ": the stub looks for it beside the installer, then in the user's "
                           "working folder");
    if (info.flags & kCabPrevCabinet)
        Warn(problems, "continues cabinet " + QuoteName(info.prevCabinet) +
                           ": the stub never reads it, so files that begin there are not "
                           "extracted");
    if (!hasProgram)
        Warn(problems,
             "no Setup.exe or StdSetup.exe at the top: nothing will be started after extraction");
}
