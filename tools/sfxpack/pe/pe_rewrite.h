// The headers a resource rewrite touches, and the rewrite itself: the resource section grows
// or shrinks in place and the base relocation section after it moves along.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "pe/pe_image.h"

struct PeSection {
    std::string name;
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
};

struct PeDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct PeHeaders {
    PeLayout layout;
    uint64_t optionalOffset = 0;     // file offset of the optional header
    uint64_t sectionTableOffset = 0; // where the stub looks for it, as ReadPeLayout does
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint64_t directoryOffset = 0; // file offset of data directory 0
    unsigned directoryCount = 0;  // the header's count, at most kMaxDirectories
    PeDirectory directories[kMaxDirectories];
    std::vector<PeSection> sections;
};

// Reads the headers of the image in src, which ReadPeLayout must accept without problems.
// False after appending why not; alignments that are not powers of two are refused too.
bool ReadPeHeaders(const Source& src, PeHeaders* h, Problems* problems);

// The file offset of the n bytes at rva when they all lie in one section's raw data.
bool RvaToOffset(const PeHeaders& h, uint32_t rva, uint32_t n, uint64_t* offset);

// Finds the section that starts with the resource tree and checks that it can change size in
// place: the sections after it may only be the base relocation table, which nothing but its
// data directory addresses. False with a line in *problems otherwise.
bool FindResourceSection(const PeHeaders& h, size_t* index, Problems* problems);

// Rewrites image (the whole file of h, nothing after its sections) with rsrc as the content
// of section index, built for that section's unchanged address. The following sections move
// to the next aligned offsets and addresses; sizes, the image size and the directories follow.
// The checksum field is left as it was. False with a line in *problems when a field would overflow.
bool ReplaceSection(const PeHeaders& h, size_t index, const std::vector<uint8_t>& rsrc,
                    std::vector<uint8_t>* image, Problems* problems);

// The file offset of the optional header's checksum field.
uint64_t ChecksumOffset(const PeHeaders& h);

// Adds the 16-bit little-endian words of p (n bytes, starting at an even file offset) to the
// running checksum sum; an odd last byte counts as a word with a zero high byte.
uint32_t ChecksumAdd(uint32_t sum, const uint8_t* p, size_t n);

// The checksum field value for a file of fileSize bytes whose words add up to sum (the
// field itself counted as zero).
uint32_t ChecksumFinish(uint32_t sum, uint64_t fileSize);
