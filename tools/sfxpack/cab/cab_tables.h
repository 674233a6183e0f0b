// The tables that start a cabinet of a set: header with its neighbours' names, folder entries
// and file entries, encoded as the cabinet format lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cab/cab_reader.h"

// What a cabinet of a set says of its place in the set.
struct SetPlace {
    uint16_t index = 0;
    std::string prev, next; // "" when there is none
};

// The header, names, folder and file tables of a cabinet of folders whose data ends at
// dataEnd, as they start the cabinet. The folders' data offsets and the files' folder indexes
// are already the cabinet's.
std::vector<uint8_t> EncodeTables(const SetPlace& place, const std::vector<CabFolder>& folders,
                                  const std::vector<CabFile>& files, uint64_t dataEnd);
