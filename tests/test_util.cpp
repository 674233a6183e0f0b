#include "test_util.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

std::string ExeDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

std::string ReadBytes(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
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
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

static void Walk(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((root + "\\" + rel + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out->push_back(rel + name + "\\");
            Walk(root, rel + name + "\\", out);
        } else {
            out->push_back(rel + name);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> out;
    Walk(root, "", &out);
    std::sort(out.begin(), out.end());
    return out;
}

void RemoveTree(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = fd.cFileName;
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

TempDir::TempDir(const char* tag) {
    static int counter = 0;
    CreateDirectoryA("C:\\ot", nullptr);
    char buf[MAX_PATH];
    snprintf(buf, sizeof(buf), "C:\\ot\\%s-%lu-%d", tag, GetCurrentProcessId(), ++counter);
    path_ = buf;
    RemoveTree(path_);
    if (!CreateDirectoryA(path_.c_str(), nullptr))
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
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string cmd = commandLine;
    if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
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
