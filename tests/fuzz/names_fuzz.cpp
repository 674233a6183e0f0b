// Fuzzes the name rule against a model of how Windows resolves a path, written apart from
// it. No name sfxpack accepts leaves the destination, names a device or comes out changed;
// no name the stub accepts does either once it has trimmed it; case folding keeps lengths
// and ignores ASCII case.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "names.h"
#include "payload/payload_rules.h"

// Aborts, which the fuzzer reports with the input, when a property does not hold.
static void Require(bool property) {
    if (!property)
        abort();
}

// The components of path as Windows resolves it: split at '\' and '/', empty components and
// "." dropped, ".." taking the previous one away, trailing dots and spaces trimmed.
static std::vector<std::string> Resolve(const std::string& path) {
    std::vector<std::string> out;
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') {
            part += path[i];
            continue;
        }
        if (part == "..") {
            if (!out.empty())
                out.pop_back();
        } else {
            while (!part.empty() && (part.back() == '.' || part.back() == ' '))
                part.pop_back();
            if (!part.empty())
                out.push_back(part);
        }
        part.clear();
    }
    return out;
}

// True when component is a DOS device for Windows: its part before the first dot, without
// trailing spaces, in any case, is one of the reserved names.
static bool IsDevice(const std::string& component) {
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    std::vector<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* port : {"COM", "LPT"}) {
        for (const char* digit : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "\xc2\xb9",
                                  "\xc2\xb2", "\xc2\xb3", "\xb9", "\xb2", "\xb3"})
            devices.push_back(std::string(port) + digit);
    }
    for (const std::string& d : devices) {
        if (stem == d)
            return true;
    }
    return false;
}

// Checks that name, under the destination, resolves to itself and names no device, and
// uses none of the characters Windows refuses in names.
static void RequireKeptAsGiven(const std::string& name) {
    static const std::vector<std::string> kDest = {"C:", "dest"};
    std::vector<std::string> given = kDest;
    std::string part;
    for (char c : name + "\\") {
        Require(static_cast<uint8_t>(c) >= 0x20 && !strchr("<>:\"|?*", c));
        if (c == '\\' || c == '/') {
            Require(!IsDevice(part));
            given.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    Require(Resolve("C:\\dest\\" + name) == given);
}

// The stub's trimming: trailing dots and spaces off every component.
static std::string Trimmed(const std::string& name) {
    std::string out, part;
    for (char c : name + "\\") {
        if (c != '\\' && c != '/') {
            part += c;
            continue;
        }
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        out += (out.empty() ? "" : "\\") + part;
        part.clear();
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string name(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    const bool exact = IsExactWindowsName(name.c_str());
    const bool safe = IsSafeArchivedName(name.c_str());
    Require(!exact || safe);
    if (exact)
        RequireKeptAsGiven(name);
    if (safe) {
        const std::string trimmed = Trimmed(name);
        Require(IsExactWindowsName(trimmed.c_str()));
        RequireKeptAsGiven(trimmed);
        Require(Resolve("C:\\dest\\" + name) == Resolve("C:\\dest\\" + trimmed));
    }
    Problems refused;
    Require(CheckName(name, 0x20, &refused) == (exact && name.size() <= kMaxNameBytes));
    Require(refused.errors.size() == (exact && name.size() <= kMaxNameBytes ? 0u : 1u));

    for (bool utf8 : {false, true}) {
        std::string folded(name.size(), '\0'), again(name.size(), '\0'), other(name.size(), '\0');
        FoldNameCase(name.c_str(), utf8, &folded[0]);
        Require(strlen(folded.c_str()) == name.size());
        FoldNameCase(folded.c_str(), utf8, &again[0]);
        Require(again == folded);
        std::string swapped = name;
        for (char& c : swapped) {
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
                c ^= 0x20;
        }
        FoldNameCase(swapped.c_str(), utf8, &other[0]);
        Require(other == folded);
    }
    return 0;
}
