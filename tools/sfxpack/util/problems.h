// The one way sfxpack's steps say what went wrong: each appends lines to a Problems record
// and never prints; the command that ran them decides how each line is shown.
#pragma once

#include <string>
#include <vector>

struct Problems {
    std::vector<std::string> errors;   // each makes the step, and the command, fail
    std::vector<std::string> warnings; // worth telling; the step still succeeds
};

// Appends line to p's errors. Returns false, for a step's `return Fail(...)`.
bool Fail(Problems* p, std::string line);

// Appends line to p's warnings.
void Warn(Problems* p, std::string line);

// Appends from's errors and warnings to to's, each line after prefix.
void AppendProblems(Problems* to, const Problems& from, const std::string& prefix = "");
