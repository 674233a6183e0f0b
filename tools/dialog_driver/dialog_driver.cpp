#include "dialog_driver.h"

#include <cstdio>
#include <cwchar>
#include <vector>

HANDLE StartProgram(const std::wstring& commandLine, const std::wstring& workDir, DWORD* pid) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = commandLine; // CreateProcessW may write into it
    const BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        workDir.c_str(), &si, &pi);
    CloseHandle(nul);
    if (!started)
        return nullptr;
    CloseHandle(pi.hThread);
    *pid = pi.dwProcessId;
    return pi.hProcess;
}

struct WindowSearch {
    DWORD pid;
    const wchar_t* title;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    const bool match =
        search->title ? wcscmp(title, search->title) == 0 : wcscmp(title, kDialogTitle) != 0;
    if ((search->pid == 0 || pid == search->pid) && IsWindowVisible(hwnd) && match) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND WaitWindow(DWORD pid, const wchar_t* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        WindowSearch search = {pid, title, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        Sleep(2);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t buf[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG,
                        5000, &result);
    return buf;
}

std::wstring ControlText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

void PressButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::wstring AnswerBox(HWND box, int button) {
    const std::wstring text = WindowText(GetDlgItem(box, 0xFFFF)); // a box's message control
    PostMessageW(box, WM_COMMAND, button, 0);
    for (int i = 0; i < 500 && IsWindow(box) && IsWindowVisible(box); ++i)
        Sleep(2);
    return text;
}

std::wstring ArgumentText(const char* arg) {
    const int n = MultiByteToWideChar(CP_ACP, 0, arg, -1, nullptr, 0);
    if (n <= 1)
        return std::wstring();
    std::vector<wchar_t> wide(static_cast<size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, arg, -1, wide.data(), n);
    return std::wstring(wide.data());
}

HANDLE StartInstaller(const char* installer, const char* workDir, const char* tag, DWORD* pid,
                      HWND* dialog) {
    const HANDLE process =
        StartProgram(L"\"" + ArgumentText(installer) + L"\"", ArgumentText(workDir), pid);
    if (!process) {
        fprintf(stderr, "%s: cannot start %s\n", tag, installer);
        return nullptr;
    }
    *dialog = WaitWindow(*pid, kDialogTitle, 30000);
    if (!*dialog) {
        fprintf(stderr, "%s: the installer's dialog did not appear\n", tag);
        TerminateProcess(process, 1);
        CloseHandle(process);
        return nullptr;
    }
    return process;
}
