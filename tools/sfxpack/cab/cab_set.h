// How a payload's files are split into cabinet folders, and the folders into the cabinets of a
// set (the first appended to the installer, the later ones beside it), with the names and
// checks of those cabinets. Pure logic: no file access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "cab_format.h"
#include "cab/cab_reader.h"
#include "compress/compression.h"
#include "compress/lzx_encoder.h"
#include "names.h"
#include "payload_record.h"

// One folder of a cabinet holds at most 65535 data blocks (its 16-bit count) of 32 KiB.
constexpr uint64_t kMaxFolderBytes = uint64_t(UINT16_MAX) * kMaxDataBlockSize;
// What libgcab makes of a block that does not compress, measured on random data: the block
// header, "CK" and one stored deflate block (5 bytes of header) around the block's bytes.
// Uncompressed folders are planned alike.
constexpr uint64_t kMszipStoredGrowth = 2 + 5;
constexpr uint64_t kWorstBlockGrowth = kCfdataSizeof + kMszipStoredGrowth;
// What the LZX encoder makes of such a block: its stored block around the bytes.
constexpr uint64_t kLzxWorstBlockGrowth = kCfdataSizeof + kLzxMaxFrameGrowth;
// A neighbouring cabinet's name and its disk's name (empty), each NUL-terminated.
constexpr uint64_t kMaxNeighbourBytes = kMaxNameBytes + 1 + 1;
// The tables of a cabinet of a set whose one folder holds one file of the longest name: the
// room every folder leaves beside its data.
constexpr uint64_t kOneFileTablesBytes =
    kCfheadSizeof + 2 * kMaxNeighbourBytes + kCffoldSizeof + kCffileSizeof + kMaxNameBytes + 1;
// The smallest cabinet size a set may be cut to: those tables and one full block.
constexpr uint64_t kMinPartBytes = kOneFileTablesBytes + kMaxDataBlockSize + kWorstBlockGrowth;

// What a block that does not compress takes beyond its bytes under compression kind.
uint64_t WorstBlockGrowth(CompressionKind kind);

// The smallest part size a set of kind may be cut to: kMinPartBytes for MSZIP and none.
uint64_t MinPartBytes(CompressionKind kind);

// The bytes bytes of files take at most once compressed, in blocks that do not compress,
// each growing by growth.
uint64_t WorstCompressedSize(uint64_t bytes, uint64_t growth = kWorstBlockGrowth);

// The most bytes of files one folder may hold so that, however badly they compress, it fits
// alone in a cabinet of partBytes (kMinPartBytes to kMaxCabinetBytes) with its tables, and at
// most kMaxFolderBytes. Also the largest single file a set of that part size takes whatever
// its data; a larger one is taken when it compresses enough. Blocks grow by growth at worst.
uint64_t FolderLimit(uint64_t partBytes, uint64_t growth = kWorstBlockGrowth);

// The bytes of a file's entry in the file table: the entry and its NUL-terminated name.
uint64_t FileEntryBytes(const std::string& name);

// A file as the folder split sees it.
struct FileCost {
    uint64_t size = 0;
    uint64_t entryBytes = 0;
};

// Puts files, in their order, into folders: each folder holds at most FolderLimit(partBytes)
// bytes, and its worst compressed size with its files' entries fits a cabinet of partBytes;
// a larger file, up to kMaxFolderBytes, has a folder of its own. A folder is filled before
// the next starts, or closed once it holds shareBytes (SharedFolderBytes). *folderOf gets each
// file's folder index. False, with *tooBig set to the index of the first file larger than
// kMaxFolderBytes, when a file is. Blocks grow by growth at worst.
bool AssignFolders(const std::vector<FileCost>& files, uint64_t partBytes,
                   std::vector<size_t>* folderOf, size_t* tooBig,
                   uint64_t growth = kWorstBlockGrowth, uint64_t shareBytes = UINT64_MAX);

// The stub extracts a cabinet's folders at the same time, one library context per thread.
// Payloads from kMinSharedPayload bytes on are cut into about kSharedFolders folders (whole
// files each) so that two to four threads get even shares. LZX keeps a window of up to 2 MiB
// across a folder: cut, it loses more than MSZIP (32 KiB), so its folders hold at least two
// windows (measured on the benchmark's payloads: 0.10 % more for 5,000 small files in eight
// folders of 1.9 MiB, 0.007 % for six folders of about 100 MB).
constexpr uint64_t kMinSharedPayload = 8ull << 20;
constexpr uint64_t kSharedFolders = 8;
constexpr uint64_t kMinSharedFolderBytes = 1ull << 20;
constexpr uint64_t kMinSharedLzxFolderBytes = 4ull << 20;
// The bytes of files after which a folder of a payload of payloadBytes is closed for the
// stub's threads: UINT64_MAX (none) below kMinSharedPayload.
uint64_t SharedFolderBytes(uint64_t payloadBytes, CompressionKind kind);

// The file name of cabinet index (0 is the installer itself) of the set of the installer
// named installerName: the installer's name without its ".exe" (any case), then "-2.cab",
// "-3.cab", ...
std::string SetCabinetName(const std::string& installerName, size_t index);

// True when name can stand in a cabinet header for a file beside the installer: 1 to 255
// bytes of printable ASCII without \ / : * ? " < > |, and not "." or "..".
bool IsSetFileName(const std::string& name);

// Whether the cabinets of a set of cabinets cabinets can be named after installerName; false
// after appending why not.
bool CheckSetNames(const std::string& installerName, size_t cabinets, Problems* problems);

// The size of a cabinet's tables: header, the neighbours' names (each "" when absent), the
// folder entries and the file entries.
uint64_t CabinetTablesSize(const std::string& prev, const std::string& next, size_t folders,
                           uint64_t entryBytes);

// A compressed folder as the placement in cabinets sees it.
struct FolderCost {
    uint64_t dataBytes = 0;  // its data blocks, headers included
    uint64_t entryBytes = 0; // its files' entries
};

// The cabinet being filled, while folders are compressed one by one.
struct SetPlan {
    uint64_t partBytes = 0;
    std::string installerName;
    size_t cabinet = 0;           // the open cabinet's index
    std::vector<FolderCost> open; // its folders so far
};

// How many of plan's open folders, from the first, form a cabinet that must be closed before
// next is added; 0 when next fits the open cabinet as its last. A closed cabinet names the
// next one and must still fit with that name: a folder that no longer does moves on with next.
size_t FoldersToClose(const SetPlan& plan, const FolderCost& next);

// Places folders, in order, in the cabinets of a set of partBytes cabinets, as the writer does:
// (*cabinetOf)[i] is folder i's cabinet.
void PlaceFolders(const std::vector<FolderCost>& folders, uint64_t partBytes,
                  const std::string& installerName, std::vector<size_t>* cabinetOf);

// The set ID every cabinet of a set carries, from the digest of its content: never 0.
uint16_t SetIdFromDigest(uint32_t crc);

// What a later cabinet of a set must be.
struct PartExpectation {
    std::string name;     // the file it was found as, named by the cabinet before it
    std::string prevName; // the name of the cabinet before it
    uint16_t setId = 0;
    uint16_t index = 0;    // iCabinet
    bool inRecord = false; // the payload record has an entry for it
    PayloadPart recorded;  // that entry
};

// Checks the later cabinet read into info, of fileSize bytes with that CRC-32C, against what
// it must be. Appends one line per problem (without the cabinet's name). The second cabinet
// naming another installer than prevName is only a warning: the installer may be renamed.
void CheckSetPart(const CabInfo& info, uint64_t fileSize, uint32_t crc, const PartExpectation& e,
                  Problems* problems);
