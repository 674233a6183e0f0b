// What the stub accepts in a payload, checked before anyone runs the installer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cab/cab_reader.h"
#include "names.h"
#include "util/problems.h"
#include "util/text.h"

// Whether sfxpack accepts the archived name (stored with these attributes): the stub's rule,
// and no trailing dot or space that Windows would drop, at most kMaxNameBytes bytes,
// well-formed when flagged UTF-8. False with one line naming it in *problems.
bool CheckName(const std::string& name, uint16_t attributes, Problems* problems);

// Appends one error for each name that Windows would take for an earlier one (the same
// without regard to case or to '/' against '\'), and for each name that is also a folder of
// another. names: (name, stored as UTF-8).
void CheckNameClashes(const std::vector<std::pair<std::string, bool>>& names, Problems* problems);

// Checks every name of info and their clashes (errors), and warns about a continuation cabinet (the
// stub looks for it in the user's working folder) and a payload without Setup.exe or
// StdSetup.exe at the top.
void CheckPayload(const CabInfo& info, Problems* problems);
