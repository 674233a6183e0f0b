// The run's log (/log=FILE): UTF-8 lines, written as they happen, from either thread.
#pragma once

#include <windows.h>

// Creates (or replaces) the log at path (UTF-16, relative to the working folder, long paths
// allowed); false when it cannot be created. Once, before the run.
bool OpenRunLog(const wchar_t* path);

// Appends one line: the parts' texts (UTF-8) one after the other. Nothing without a log.
void LogLine(const char* a, const char* b = "", const char* c = "", const char* d = "");

// The same for a UTF-16 text after a UTF-8 label.
void LogLineW(const char* label, const wchar_t* text);

// Closes the log; lines after it go nowhere.
void CloseRunLog();
