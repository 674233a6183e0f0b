// The cabinet structures the stub and sfxpack read and the tests build, as byte offsets from
// the start of each structure, and the values of their fields that they know.
#pragma once

#include <cstddef>
#include <cstdint>

// CFHEADER
constexpr size_t kCfheadSignature = 0x00; // kCabSignature
constexpr size_t kCfheadCabinetSize = 0x08;
constexpr size_t kCfheadFilesOffset = 0x10;
constexpr size_t kCfheadMinorVersion = 0x18;
constexpr size_t kCfheadMajorVersion = 0x19;
constexpr size_t kCfheadFolderCount = 0x1a;
constexpr size_t kCfheadFileCount = 0x1c;
constexpr size_t kCfheadFlags = 0x1e;
constexpr size_t kCfheadSetId = 0x20;
constexpr size_t kCfheadCabinetIndex = 0x22;
constexpr size_t kCfheadSizeof = 0x24;
constexpr char kCabSignature[] = "MSCF"; // its 4 bytes, without the NUL
constexpr size_t kCabSignatureSize = 4;
constexpr uint8_t kCabMajorVersion = 1;
constexpr uint8_t kCabMinorVersion = 3;
constexpr uint16_t kCabPrevCabinet = 0x1;
constexpr uint16_t kCabNextCabinet = 0x2;
constexpr uint16_t kCabReservePresent = 0x4;

// The reserve sizes that follow CFHEADER when kCabReservePresent is set.
constexpr size_t kCfheadextHeaderReserve = 0x00;
constexpr size_t kCfheadextFolderReserve = 0x02;
constexpr size_t kCfheadextDataReserve = 0x03;
constexpr size_t kCfheadextSizeof = 0x04;

// CFFOLDER
constexpr size_t kCffoldDataOffset = 0x00;
constexpr size_t kCffoldBlockCount = 0x04;
constexpr size_t kCffoldCompression = 0x06;
constexpr size_t kCffoldSizeof = 0x08;
constexpr uint16_t kCompressionTypeMask = 0x000f;
constexpr uint16_t kCompressionLzx = 3; // the last known type

// CFFILE, followed by its NUL-terminated name (at most 255 bytes and the NUL).
constexpr size_t kCffileUncompressedSize = 0x00;
constexpr size_t kCffileFolderOffset = 0x04;
constexpr size_t kCffileFolderIndex = 0x08;
constexpr size_t kCffileDate = 0x0a;
constexpr size_t kCffileTime = 0x0c;
constexpr size_t kCffileAttributes = 0x0e;
constexpr size_t kCffileSizeof = 0x10;
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrExecute = 0x40;
// Folder index values of files that span cabinets.
constexpr uint16_t kFolderContinuedFromPrev = 0xfffd;
constexpr uint16_t kFolderContinuedToNext = 0xfffe;
constexpr uint16_t kFolderContinuedPrevAndNext = 0xffff;

// CFDATA, followed by its compressed bytes.
constexpr size_t kCfdataChecksum = 0x00;
constexpr size_t kCfdataCompressedSize = 0x04;
constexpr size_t kCfdataUncompressedSize = 0x06;
constexpr size_t kCfdataSizeof = 0x08;
constexpr uint32_t kMaxDataBlockSize = 32768; // uncompressed bytes of one block
