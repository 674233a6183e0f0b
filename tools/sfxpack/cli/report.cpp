#include "cli/report.h"

#include <cstdio>

#include "util/text.h"

void Report(const std::string& subject, const std::vector<std::string>& lines, const char* kind) {
    for (const std::string& line : lines)
        fprintf(stderr, "sfxpack: %s: %s%s\n", EscapeText(subject).c_str(), kind,
                EscapeText(line).c_str());
}

void ReportProblems(const std::string& subject, const Problems& p) {
    Report(subject, p.errors);
    Report(subject, p.warnings, "warning: ");
}

void ReportErrors(const Problems& p) {
    for (const std::string& line : p.errors)
        ReportError(line);
}

void ReportError(const std::string& error) {
    fprintf(stderr, "sfxpack: %s\n", EscapeText(error).c_str());
}
