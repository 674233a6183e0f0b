#include "run_log.h"

#include <stdlib.h>
#include <string.h>

#include "owned.h"
#include "wide_path.h"

namespace {

HANDLE s_log = INVALID_HANDLE_VALUE;
// The job's thread and the dialog's both write: one line at a time.
CRITICAL_SECTION s_lock;

} // namespace

bool OpenRunLog(const wchar_t* path) {
    const OwnedBlock<char> utf8(WideToUtf8(path));
    const OwnedBlock<wchar_t> wide(utf8 ? WidePath(utf8.get()) : nullptr);
    if (!wide)
        return false;
    s_log = CreateFileW(wide.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (s_log == INVALID_HANDLE_VALUE)
        return false;
    InitializeCriticalSection(&s_lock);
    return true;
}

void LogLine(const char* a, const char* b, const char* c, const char* d) {
    if (s_log == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    wsprintfA(stamp, "%04u-%02u-%02u %02u:%02u:%02u ", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond);
    const char* parts[] = {stamp, a, b, c, d, "\r\n"};
    EnterCriticalSection(&s_lock);
    for (const char* part : parts) {
        DWORD written = 0;
        WriteFile(s_log, part, static_cast<DWORD>(strlen(part)), &written, nullptr);
    }
    LeaveCriticalSection(&s_lock);
}

void LogLineW(const char* label, const wchar_t* text) {
    const OwnedBlock<char> utf8(WideToUtf8(text ? text : L""));
    LogLine(label, utf8 ? utf8.get() : "?");
}

void CloseRunLog() {
    if (s_log == INVALID_HANDLE_VALUE)
        return;
    EnterCriticalSection(&s_lock);
    CloseHandle(s_log);
    s_log = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&s_lock);
}
