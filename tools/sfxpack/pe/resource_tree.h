// The resource tree of a PE image as a flat list of resources, read from an image and
// written back as the content of a resource section.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "pe/pe_rewrite.h"

constexpr uint32_t kTypeIcon = 3;
constexpr uint32_t kTypeGroupIcon = 14;
constexpr uint32_t kTypeVersion = 16;
// Far more than any stub carries; bounds what a hostile tree can make us read.
constexpr size_t kMaxResources = 4096;
constexpr uint64_t kMaxResourceBytes = 64u << 20;

// A type, name or language: a number, or a UTF-16 string when isName.
struct ResourceId {
    bool isName = false;
    uint16_t number = 0;
    std::u16string name;
};

struct Resource {
    ResourceId type, name, language;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

// Directory order: names (by code unit) before numbers (ascending). Negative, 0 or positive.
int CompareIds(const ResourceId& a, const ResourceId& b);

// A numeric id.
ResourceId NumberId(uint16_t number);

// Reads every resource of the image h was read from, in directory order. False after
// appending one line when the tree or a resource lies outside the file, is not three levels
// deep, or exceeds kMaxResources or kMaxResourceBytes. An image without resources gives an
// empty list.
bool ReadResources(const Source& src, const PeHeaders& h, std::vector<Resource>* out,
                   Problems* problems);

// Inserts r where directory order puts it (after equal ids).
void InsertResource(std::vector<Resource>* list, Resource r);

// The content of a resource section at address rva holding list (in directory order):
// directory tables, data entries, names, then each resource's data aligned to 8 bytes.
std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& list, uint32_t rva);
