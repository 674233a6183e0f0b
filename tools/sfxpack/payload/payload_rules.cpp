#include "payload/payload_rules.h"

#include <cstdio>
#include <strings.h>
#include <unordered_map>

#include "names.h"
#include "util/hex.h"

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
