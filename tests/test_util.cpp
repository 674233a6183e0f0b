#include "test_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

std::wstring Wide(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                        nullptr, nullptr);
    return utf8;
}

// A UTF-8 path for the file APIs; long absolute ones in the \\?\ form.
static std::wstring FilePath(const std::string& path) {
    const std::wstring wide = Wide(path);
    if (wide.size() < MAX_PATH - 12 || wide.size() < 3 || wide[1] != L':')
        return wide;
    return L"\\\\?\\" + wide;
}

std::string ReadBytes(const std::string& path) {
    FILE* f = _wfopen(FilePath(path).c_str(), L"rb");
    if (!f)
        throw std::runtime_error("cannot read " + path);
    std::string data;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = _wfopen(FilePath(path).c_str(), L"wb");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesW(FilePath(path).c_str());
}

SYSTEMTIME LocalWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    FILETIME local = {};
    SYSTEMTIME st = {};
    if (GetFileAttributesExW(FilePath(path).c_str(), GetFileExInfoStandard, &data) &&
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local))
        FileTimeToSystemTime(&local, &st);
    return st;
}

static void Walk(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(FilePath(root + "\\" + rel + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = Utf8(fd.cFileName);
        if (name == "." || name == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(rel + name + "\\");
            Walk(root, rel + name + "\\", out);
        } else {
            out->push_back(rel + name);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> out;
    Walk(root, "", &out);
    std::sort(out.begin(), out.end());
    return out;
}

void RemoveTree(const std::string& path) {
    const std::wstring wide = FilePath(path);
    DWORD a = GetFileAttributesW(wide.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(wide.c_str());
        return;
    }
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(FilePath(path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = Utf8(fd.cFileName);
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(wide.c_str());
}

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryW(FilePath(path).c_str(), nullptr) != FALSE;
}

TempDir::TempDir(const char* tag) {
    static int counter = 0;
    CreateDirectoryA("C:\\ot", nullptr);
    char buf[MAX_PATH];
    snprintf(buf, sizeof(buf), "C:\\ot\\%s-%lu-%d", tag, GetCurrentProcessId(), ++counter);
    path_ = buf;
    RemoveTree(path_);
    if (!MakeDirectory(path_))
        throw std::runtime_error("cannot create " + path_);
}

TempDir::~TempDir() {
    RemoveTree(path_);
}

ProcessResult RunProcess(const std::string& commandLine, const std::string& cwd, DWORD timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = Wide(commandLine);
    const std::wstring folder = Wide(cwd);
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr,
                        cwd.empty() ? nullptr : folder.c_str(), &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        throw std::runtime_error("cannot start " + commandLine);
    }
    CloseHandle(writeEnd);
    // Drains without blocking: a helper process the child starts (Wine's desktop) may
    // inherit the write end and keep the pipe open after the child has gone.
    auto drain = [&] {
        DWORD available = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available) {
            char buf[4096];
            DWORD got = 0;
            if (!ReadFile(readEnd, buf, std::min<DWORD>(available, sizeof(buf)), &got, nullptr))
                break;
            result.output.append(buf, got);
        }
    };
    const DWORD start = GetTickCount();
    for (;;) {
        drain();
        if (WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(pi.hProcess, 255);
            result.timedOut = true;
            break;
        }
    }
    drain();
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(readEnd);
    return result;
}

std::string SmallVolume() {
    const char* volume = getenv("ORVANTA_SMALL_VOLUME");
    std::string root = volume ? volume : "";
    std::replace(root.begin(), root.end(), '/', '\\');
    ULARGE_INTEGER available, total;
    if (root.empty() || !GetDiskFreeSpaceExA(root.c_str(), &available, &total, nullptr) ||
        total.QuadPart > (1u << 20))
        return "";
    return root;
}
