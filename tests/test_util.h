// Helpers shared by the tests that run under Wine: files, temporary folders, processes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Paths and command lines are UTF-8 here and UTF-16 at the system calls.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// The folder holding the running test executable (fixtures and helpers live there).
std::string ExeDir();
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);
DWORD Attributes(const std::string& path);
// The last-write time as local time; all zero when the file cannot be read.
SYSTEMTIME LocalWriteTime(const std::string& path);
// Every file and folder under root, relative, '\'-separated, folders with a trailing '\'.
std::vector<std::string> ListTree(const std::string& root);
void RemoveTree(const std::string& path);
// The 64 KiB file system CTest mounts under ORVANTA_SMALL_VOLUME, as a Windows path; empty
// when it is not there or not small (it could not be mounted).
std::string SmallVolume();
bool MakeDirectory(const std::string& path);

// A fresh folder under C:\ot, removed with everything in it at destruction.
class TempDir {
  public:
    explicit TempDir(const char* tag);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool timedOut = false;
    std::string output; // standard output and error together
};
// Runs a command line in cwd and collects its output.
ProcessResult RunProcess(const std::string& commandLine, const std::string& cwd,
                         DWORD timeoutMs = 120000);
