// Small in-memory PE32 images and stored (uncompressed) cabinets for the reader tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab_format.h"
#include "pe_format.h"
#include "util/problems.h"

using Bytes = std::vector<uint8_t>;

// Where the headers of a MakePe image lie.
constexpr uint32_t kFakeNtOffset = 0x80;
constexpr size_t kFakeCoff = kFakeNtOffset + kPeSignatureSize;
constexpr size_t kFakeOpt = kFakeNtOffset + kNtOptionalHeader;
constexpr size_t kFakeSectionTable = kFakeOpt + kPe32OptionalHeaderSize;

// The offset of data directory d of a MakePe image.
constexpr size_t FakeDirectory(unsigned d) {
    return kFakeOpt + kOpt32Directories + kDirectoryEntrySize * d;
}

// The offset of section i's entry in a MakePe image.
constexpr size_t FakeSection(size_t i) {
    return kFakeSectionTable + kSectionEntrySize * i;
}

// Where the tables of a MakeCab cabinet lie.
constexpr size_t kFakeFolder = kCfheadSizeof;
constexpr size_t kFakeFiles = kFakeFolder + kCffoldSizeof;

void Put16(Bytes* b, size_t at, uint16_t v);
void Put32(Bytes* b, size_t at, uint32_t v);

// A PE32 i386 image of fileSize bytes whose sections have these raw (pointer, size) pairs.
Bytes MakePe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, size_t fileSize);

// A one-folder stored cabinet of (name, data, attributes) entries, tables in the usual
// order: header, folder at kFakeFolder, files at kFakeFiles, then one data block.
struct FakeEntry {
    std::string name, data;
    uint16_t attributes;
};
Bytes MakeCab(const std::vector<FakeEntry>& entries);

// The errors of p, each ended by a newline: what a test shows of a refusal.
std::string ErrorText(const Problems& p);
