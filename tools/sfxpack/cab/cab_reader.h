// A bounded reader of a cabinet's header, folder and file tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "cab_format.h"
#include "util/file_io.h"
#include "names.h"

// The platform's cabinet library seeks through a cabinet with signed 32-bit distances, and
// cbCabinet and coffCabStart are 32-bit: no cabinet may be larger.
constexpr uint64_t kMaxCabinetBytes = INT32_MAX;

struct CabFolder {
    uint32_t dataOffset = 0;
    uint16_t dataBlocks = 0;
    uint16_t compression = 0;
};

struct CabFile {
    std::string name; // as stored: backslashes, UTF-8 when kAttrNameIsUtf8 is set
    uint32_t size = 0;
    uint32_t folderOffset = 0;
    uint16_t folder = 0;
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attributes = 0;
};

struct CabInfo {
    uint32_t cabinetSize = 0; // cbCabinet
    uint16_t flags = 0;
    uint16_t setId = 0;
    uint16_t cabinetIndex = 0; // iCabinet
    std::string prevCabinet, prevDisk, nextCabinet, nextDisk;
    std::vector<CabFolder> folders;
    std::vector<CabFile> files;
};

// Reads the cabinet at the start of src: header sanity, folder and file tables, and the
// chain of data blocks of each folder, all inside cbCabinet and inside src, after the tables,
// no block claimed by two folders. Costs time linear in the cabinet's size. Appends one line
// per problem. False when the tables cannot be read (then *info holds what was read so far).
bool ReadCabinet(const Source& src, CabInfo* info, Problems* problems);
