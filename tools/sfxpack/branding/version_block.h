// The version resource (VS_VERSIONINFO): the strings and numbers Windows shows for a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"

// Every node of the block records its size in 16 bits.
constexpr size_t kMaxVersionBlockBytes = 0xffff;

// One node: its key, its value as stored, and the nodes inside it.
struct VersionNode {
    std::u16string key;
    uint16_t type = 0;        // 1 for text, 0 for binary
    uint16_t valueLength = 0; // as stored: characters for text, bytes for binary
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};

// A --version-info setting.
struct VersionSetting {
    std::string key, value;
};

// Whether key=value can be set; false after appending why not: a key other than the version
// numbers and names the branding sets, a version number not of the form a.b.c.d (each 0 to
// 65535), or a value that is not UTF-8.
bool CheckVersionSetting(const VersionSetting& s, Problems* problems);

// Parses the version resource in block. False with a line in *problems when a node's sizes do not
// fit inside its parent or the block, or nodes nest too deep.
bool ParseVersionBlock(const std::vector<uint8_t>& block, VersionNode* root, Problems* problems);

// Serializes root. False with a line in *problems naming the node whose size would exceed 16 bits.
bool SerializeVersionBlock(const VersionNode& root, std::vector<uint8_t>* block,
                           Problems* problems);

// Sets each setting in every string table of root (appending a key the table lacks), and the
// fixed file and product version numbers from FileVersion and ProductVersion. Settings must
// have passed CheckVersionSetting. False with a line in *problems when root has no fixed
// information or no string table.
bool ApplyVersionSettings(const std::vector<VersionSetting>& settings, VersionNode* root,
                          Problems* problems);

// What Windows shows: the fixed versions as a.b.c.d, the first string table's name and its
// (key, UTF-8 value) pairs. Parts the block lacks stay empty.
struct VersionSummary {
    std::string fileVersion, productVersion;
    std::string table;
    std::vector<VersionSetting> strings;
};
void SummarizeVersion(const VersionNode& root, VersionSummary* summary);
