// Small in-memory PE32 images and stored (uncompressed) cabinets for the reader tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFakeNtOffset = 0x80;

void Put16(Bytes* b, size_t at, uint16_t v);
void Put32(Bytes* b, size_t at, uint32_t v);

// A PE32 i386 image of fileSize bytes whose sections have these raw (pointer, size) pairs.
Bytes MakePe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, size_t fileSize);

// A one-folder stored cabinet of (name, data, attributes) entries, tables in the usual
// order: header, folder at 36, files at 44, then one data block.
struct FakeEntry {
    std::string name, data;
    uint16_t attributes;
};
Bytes MakeCab(const std::vector<FakeEntry>& entries);
