// The parts of a '/'-separated path, as sfxpack names files beside one another.
#pragma once

#include <string>

// The file name part of path: what follows its last '/', or all of it.
std::string BaseName(const std::string& path);

// The folder part of path with its trailing '/', or "" for a bare name.
std::string FolderOf(const std::string& path);
