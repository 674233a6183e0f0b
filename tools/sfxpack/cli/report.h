// How sfxpack tells what happened: one line on stderr per problem, and its exit status.
#pragma once

#include <string>
#include <vector>

#include "util/problems.h"

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1; // a problem with the inputs, each reported on stderr
constexpr int kExitUsage = 2;

// Prints each line on its own, prefixed with the file it concerns and kind. Paths and names
// are escaped, so that none can break the line or reach the terminal as a control.
void Report(const std::string& subject, const std::vector<std::string>& lines,
            const char* kind = "");

// Prints p's errors, then its warnings, about subject.
void ReportProblems(const std::string& subject, const Problems& p);

// Prints each error of p as a line of its own that is not about a named input.
void ReportErrors(const Problems& p);

// Prints a one-line error that is not about a named input.
void ReportError(const std::string& error);
