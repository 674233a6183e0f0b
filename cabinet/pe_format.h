// The PE header fields the stub and sfxpack read or rewrite, as byte offsets from the start of
// the structure that holds them, and the values it knows them by.
#pragma once

#include <cstddef>
#include <cstdint>

// IMAGE_DOS_HEADER
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNtOffset = 0x3c; // e_lfanew: where the NT headers start

// The NT headers: "PE\0\0", the COFF file header, then the optional header.
constexpr size_t kPeSignatureSize = 4;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kNtOptionalHeader = kPeSignatureSize + kCoffHeaderSize;

// IMAGE_FILE_HEADER, from its start (kPeSignatureSize into the NT headers).
constexpr size_t kCoffMachine = 0;
constexpr size_t kCoffSectionCount = 2;
constexpr size_t kCoffSymbolTable = 8; // PointerToSymbolTable
constexpr size_t kCoffOptionalHeaderSize = 16;
constexpr uint16_t kMachineI386 = 0x14c;
constexpr uint16_t kMachineAmd64 = 0x8664;

// IMAGE_OPTIONAL_HEADER32 and 64: the fields up to the checksum lie at the same offsets.
constexpr size_t kOptMagic = 0;
constexpr size_t kOptInitializedDataSize = 8;
constexpr size_t kOptSectionAlignment = 32;
constexpr size_t kOptFileAlignment = 36;
constexpr size_t kOptImageSize = 56;
constexpr size_t kOptChecksum = 64;
// NumberOfRvaAndSizes, then the data directories, where the 64-bit fields push them.
constexpr size_t kOpt32DirectoryCount = 92;
constexpr size_t kOpt32Directories = 96;
constexpr size_t kOpt64DirectoryCount = 108;
constexpr size_t kOpt64Directories = 112;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
// The stub finds its section table through the optional header size, which each format fixes.
constexpr uint16_t kPe32OptionalHeaderSize = 224;
constexpr uint16_t kPe32PlusOptionalHeaderSize = 240;

// IMAGE_DATA_DIRECTORY, and the entries sfxpack reads or moves.
constexpr size_t kDirectoryRva = 0; // a file offset for the security directory
constexpr size_t kDirectorySize = 4;
constexpr size_t kDirectoryEntrySize = 8;
constexpr unsigned kMaxDirectories = 16;
constexpr unsigned kResourceDirectory = 2;
constexpr unsigned kSecurityDirectory = 4;
constexpr unsigned kRelocationDirectory = 5;

// IMAGE_SECTION_HEADER
constexpr size_t kSectionName = 0;
constexpr size_t kSectionNameSize = 8;
constexpr size_t kSectionVirtualSize = 8;
constexpr size_t kSectionVirtualAddress = 12;
constexpr size_t kSectionRawSize = 16;    // SizeOfRawData
constexpr size_t kSectionRawPointer = 20; // PointerToRawData
constexpr size_t kSectionCharacteristics = 36;
constexpr size_t kSectionEntrySize = 40;
constexpr uint32_t kSectionInitializedData = 0x40;
