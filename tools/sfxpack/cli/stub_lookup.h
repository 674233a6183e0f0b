// Where sfxpack finds the stub when no --stub is given: beside itself, as in the build tree,
// else where an installation puts it (PREFIX/bin/sfxpack, PREFIX/share/orvanta/...).
#pragma once

#include <functional>
#include <string>

// The stub's path of arch ("x86" or "" for the default, or "x64") inside a folder of stubs:
// OrvantaSfx.exe or x64/OrvantaSfx.exe.
std::string StubName(const std::string& arch);

// The stub of arch for the program at programPath: the first of its folder and
// ../share/orvanta/ from there that exists says so; when neither does, the one beside the
// program, so that the refusal names where a stub was looked for first.
std::string FindStub(const std::string& programPath, const std::string& arch,
                     const std::function<bool(const std::string&)>& exists);

// This program's own path, from /proc/self/exe, else argv0 as it was run.
std::string ProgramPath(const char* argv0);
