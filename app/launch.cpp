// Starting the package's setup program from the destination: Setup.exe, else StdSetup.exe.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app.h"
#include "exit_codes.h"
#include "owned.h"
#include "run_log.h"
#include "wide_path.h"

bool FileExists(const char* path) {
    wchar_t* wide = WidePath(path);
    if (!wide)
        return false;
    WIN32_FIND_DATAW entry;
    const HANDLE search = FindFirstFileW(wide, &entry);
    free(wide);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

// destination + '\\' + name, UTF-8, in a heap block; null when no memory is left.
static char* JoinPath(const char* destination, const char* name) {
    const size_t a = strlen(destination), b = strlen(name);
    char* path = static_cast<char*>(malloc(a + b + 2));
    if (path) {
        memcpy(path, destination, a);
        path[a] = '\\';
        memcpy(path + a + 1, name, b + 1);
    }
    return path;
}

// Setup.exe, else StdSetup.exe, in destination (UTF-8, heap); null when neither is there.
static char* FindSetupProgram(const char* destination) {
    static const char* const kPrograms[] = {"Setup.exe", "StdSetup.exe"};
    for (const char* name : kPrograms) {
        char* program = JoinPath(destination, name);
        if (program && FileExists(program))
            return program;
        free(program);
    }
    return nullptr;
}

// Tells the user that the setup program exists but did not start, with the system's reason.
static void ShowLaunchFailure(const wchar_t* program, DWORD error) {
    wchar_t reason[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reason, sizeof(reason) / sizeof(reason[0]), nullptr);
    const wchar_t* name = wcsrchr(program, L'\\');
    name = name ? name + 1 : program;
    static const wchar_t kBefore[] = L"Le programme d'installation « ";
    static const wchar_t kAfter[] = L" » n'a pas pu être démarré :\n\n";
    wchar_t text[sizeof(kBefore) / sizeof(wchar_t) + MAX_PATH + sizeof(kAfter) / sizeof(wchar_t) +
                 sizeof(reason) / sizeof(wchar_t)];
    wcscpy(text, kBefore);
    wcsncat(text, name, MAX_PATH);
    wcscat(text, kAfter);
    wcscat(text, reason[0] ? reason : L"erreur inconnue");
    LogLineW("error: ", text);
    if (!Unattended())
        MessageBoxW(g_hwndMain, text, L"Installation", MB_OK | MB_ICONWARNING);
}

// Starts Setup.exe, else StdSetup.exe, from the destination, through the shell so that a
// program that needs elevation gets its consent prompt, owned by the dialog so that the prompt
// comes to the front. A package without either is extract-only: nothing is said.
void LaunchSetup(const char* destination) {
    const OwnedBlock<char> found(FindSetupProgram(destination));
    const char* program = found.get();
    // The shell takes plain paths only, so a program in a folder past MAX_PATH cannot start.
    const OwnedBlock<wchar_t> wideProgram(program ? Utf8ToWide(program) : nullptr);
    const OwnedBlock<wchar_t> wideFolder(program ? Utf8ToWide(destination) : nullptr);
    if (wideProgram && wideFolder) {
        // Shell extensions may run in the call: it wants an apartment, and no OLE1 DDE.
        const HRESULT com =
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        // This thread ends right after: the call must finish its work before it returns.
        info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.hwnd = g_hwndMain;
        info.lpVerb = L"open";
        info.lpFile = wideProgram.get();
        info.lpParameters = L"";
        info.lpDirectory = wideFolder.get();
        info.nShow = SW_SHOW;
        if (!ShellExecuteExW(&info)) {
            const DWORD error = GetLastError();
            if (error != ERROR_CANCELLED) // the user declined the consent prompt
                ShowLaunchFailure(wideProgram.get(), error);
        }
        if (SUCCEEDED(com))
            CoUninitialize();
    }
}

// program "args" for CreateProcessW, which wants the program's own name first; a heap block.
static wchar_t* ProcessCommandLine(const wchar_t* program, const wchar_t* args) {
    const size_t size = wcslen(program) + (args ? wcslen(args) : 0) + 4;
    wchar_t* line = static_cast<wchar_t*>(malloc(size * sizeof(wchar_t)));
    if (!line)
        return nullptr;
    wcscpy(line, L"\"");
    wcscat(line, program);
    wcscat(line, L"\"");
    if (args && args[0]) {
        wcscat(line, L" ");
        wcscat(line, args);
    }
    return line;
}

uint32_t LaunchSetupAndWait(const char* destination) {
    const OwnedBlock<char> found(FindSetupProgram(destination));
    const char* program = found.get();
    if (!program) {
        LogLine("setup program: none in the package");
        return kExitSuccess;
    }
    const OwnedBlock<wchar_t> wideProgram(Utf8ToWide(program));
    const OwnedBlock<wchar_t> wideFolder(Utf8ToWide(destination));
    const OwnedBlock<wchar_t> args(SetupArguments());
    if (!wideProgram || !wideFolder)
        return kExitFailure;
    OwnedHandle process;
    DWORD error = 0;
    if (g_options.quiet) {
        // No consent prompt in a quiet run: a program that needs elevation fails with 740,
        // which the deployment tool (elevated anyway) reads.
        const OwnedBlock<wchar_t> line(ProcessCommandLine(wideProgram.get(), args.get()));
        LogLineW("setup command line: ", line.get());
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started = {};
        if (line && CreateProcessW(wideProgram.get(), line.get(), nullptr, nullptr, FALSE, 0,
                                   nullptr, wideFolder.get(), &startup, &started)) {
            CloseHandle(started.hThread);
            process.reset(started.hProcess);
        } else {
            error = line ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        }
    } else {
        LogLineW("setup program: ", wideProgram.get());
        LogLineW("setup arguments: ", args ? args.get() : L"");
        const HRESULT com =
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
        info.hwnd = g_hwndMain;
        info.lpVerb = L"open";
        info.lpFile = wideProgram.get();
        info.lpParameters = args ? args.get() : L"";
        info.lpDirectory = wideFolder.get();
        info.nShow = SW_SHOW;
        if (ShellExecuteExW(&info))
            process.reset(info.hProcess);
        else
            error = GetLastError();
        if (SUCCEEDED(com))
            CoUninitialize();
    }
    if (error == ERROR_CANCELLED) { // the user declined the consent prompt
        LogLine("setup program: the consent prompt was declined");
        return kExitCancelled;
    }
    if (error) {
        ShowLaunchFailure(wideProgram.get(), error);
        return error;
    }
    DWORD code = kExitSuccess;
    if (process.valid()) {
        WaitForSingleObject(process.get(), INFINITE);
        GetExitCodeProcess(process.get(), &code);
        g_exitFromSetup = true;
    }
    char line[64];
    wsprintfA(line, "setup program exit code: %lu", static_cast<unsigned long>(code));
    LogLine(line);
    return code;
}
