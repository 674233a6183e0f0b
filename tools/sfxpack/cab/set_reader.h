// The later cabinets of an installer's set, found beside it by the names each cabinet gives
// the next, read and checked against the payload record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "cab/cab_reader.h"
#include "payload_record.h"

struct LaterCabinet {
    std::string name; // its file name beside the installer
    CabInfo info;
    uint64_t size = 0;
    uint32_t crc32c = 0; // when digested
};

// Follows the set from first, the cabinet appended to the installer at installerPath (""
// when it is not a file: every later cabinet is then missing): each later cabinet by the
// name in the one before it, while that one names a next. Each is checked for being a whole
// cabinet of this set in its place, and, when record has a part table, for its size and, with
// verify, its CRC-32C, and the count of cabinets against the table's. Appends the cabinets
// read to *later, and one line per problem or warning, starting with the cabinet's name.
void ReadLaterCabinets(const std::string& installerPath, const CabInfo& first,
                       const PayloadRecord* record, bool verify, std::vector<LaterCabinet>* later,
                       Problems* problems);

// The files of the whole set: first's and those of each later cabinet, in order, without the
// cabinets' links; files[i].folder is kept, cabinetOf (may be null) gets each file's cabinet.
CabInfo JoinSetFiles(const CabInfo& first, const std::vector<LaterCabinet>& later,
                     std::vector<size_t>* cabinetOf);
