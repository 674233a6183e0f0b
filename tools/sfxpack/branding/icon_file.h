// .ico files in, icon group resources out, and the images a group lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"

constexpr uint64_t kMaxIconFileBytes = 1u << 20;
constexpr uint32_t kMaxIconPixels = 256;

struct IconImage {
    uint32_t width = 0, height = 0; // 1..256, from the image itself
    uint16_t bitCount = 0;
    bool png = false;
    std::vector<uint8_t> data; // the image as the .ico file holds it: a DIB or a PNG file
};

// Parses the .ico file of n bytes at data into its images. False with a line in *problems
// when it is not an icon file, is cut short, lists no image, or an image is not a readable
// DIB or PNG of at most 256 pixels whose data fits its entry.
bool ParseIconFile(const uint8_t* data, size_t n, std::vector<IconImage>* images,
                   Problems* problems);

// The icon group resource listing images, each stored as the icon resource of the same
// index in ids.
std::vector<uint8_t> BuildIconGroup(const std::vector<IconImage>& images,
                                    const std::vector<uint16_t>& ids);

// One image of an icon group resource as its directory describes it.
struct IconGroupEntry {
    uint32_t width = 0, height = 0;
    uint16_t bitCount = 0;
    uint16_t id = 0;
};

// Reads the entries of an icon group resource. False with a line in *problems when it is malformed.
bool ParseIconGroup(const std::vector<uint8_t>& group, std::vector<IconGroupEntry>* entries,
                    Problems* problems);

// True when an icon resource holds a PNG file rather than a DIB.
bool IsPng(const std::vector<uint8_t>& image);
