#include "cli/stub_lookup.h"

#include <unistd.h>

#include "util/paths.h"

std::string StubName(const std::string& arch) {
    return arch == "x64" ? "x64/OrvantaSfx.exe" : "OrvantaSfx.exe";
}

std::string FindStub(const std::string& programPath, const std::string& arch,
                     const std::function<bool(const std::string&)>& exists) {
    const std::string folder = FolderOf(programPath);
    const std::string beside = folder + StubName(arch);
    const std::string installed = folder + "../share/orvanta/" + StubName(arch);
    if (!exists(beside) && exists(installed))
        return installed;
    return beside;
}

std::string ProgramPath(const char* argv0) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n > 0)
        return std::string(self, static_cast<size_t>(n));
    return argv0 ? argv0 : "";
}
