#include "util/problems.h"

#include <utility>

bool Fail(Problems* p, std::string line) {
    p->errors.push_back(std::move(line));
    return false;
}

void Warn(Problems* p, std::string line) {
    p->warnings.push_back(std::move(line));
}

void AppendProblems(Problems* to, const Problems& from, const std::string& prefix) {
    for (const std::string& line : from.errors)
        to->errors.push_back(prefix + line);
    for (const std::string& line : from.warnings)
        to->warnings.push_back(prefix + line);
}
