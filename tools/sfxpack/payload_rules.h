// What the stub accepts in a payload, checked before anyone runs the installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cab_reader.h"

// The stub refuses a file whose destination + '\' + name exceeds 259 bytes. The destination
// is the user's choice, so names keep 64 bytes free for it and its separator.
constexpr size_t kMaxPathBytes = 259;
constexpr size_t kDestinationReserve = 64;
constexpr size_t kMaxNameBytes = kMaxPathBytes - kDestinationReserve; // 195

struct Findings {
    std::vector<std::string> errors;   // the stub would refuse or misbehave
    std::vector<std::string> warnings; // it works, perhaps not as the author meant
};

// True when s (n bytes) is well-formed UTF-8 without overlong forms or surrogates.
bool IsValidUtf8(const std::string& s);

// name in double quotes, control characters and quotes written as \xNN: fit for one line.
std::string QuoteName(const std::string& name);

// Why the stub would refuse the archived name (stored with these attributes), as one line
// naming it, or "" when it accepts it. Lengths count stored bytes: a UTF-8 name is never
// shorter than its ANSI form.
std::string NameProblem(const std::string& name, uint16_t attributes);

// Checks every name of info, and warns about a continuation cabinet (the stub looks for it
// in the user's working folder) and a payload without Setup.exe or StdSetup.exe at the top.
void CheckPayload(const CabInfo& info, Findings* findings);
