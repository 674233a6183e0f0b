// Writes small uncompressed cabinets with names, dates and attribute words that no packing
// tool produces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CabEntry {
    std::string name; // archived name, bytes as stored
    std::string data;
    uint16_t date = 0x5B8E; // 2025-12-14
    uint16_t time = 0x6000; // 12:00:00
    uint16_t attribs = 0x20;
};

// A cabinet's place in a set: the names it links to (empty: none), its set and index.
struct CabLink {
    std::string prev, next;
    uint16_t setId = 0x1234;
    uint16_t index = 0;
};

// One folder, no compression, no checksums.
std::string WriteCab(const std::vector<CabEntry>& files, const CabLink& link = CabLink());

// Several folders, one after the other, each with its files, no compression, no checksums;
// with damagedFolder set, that folder's last block says it holds one byte more than it
// carries, which the library reports as a corrupt cabinet.
std::string WriteFoldersCab(const std::vector<std::vector<CabEntry>>& folders,
                            int damagedFolder = -1);
