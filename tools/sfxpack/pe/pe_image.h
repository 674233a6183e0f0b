// The PE layout the stub relies on to find its payload: PE32 i386 or PE32+ x86-64.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "pe_format.h"

// The stub reads itself through signed 32-bit offsets.
constexpr uint64_t kMaxInstallerSize = uint64_t(1) << 31;
// osslsigncode and signtool align the certificate table to 8 bytes with zero padding.
constexpr uint64_t kMaxCertificatePadding = 7;

struct PeLayout {
    uint32_t ntOffset = 0; // e_lfanew
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint16_t optionalHeaderSize = 0;
    uint16_t magic = 0;
    uint32_t symbolTable = 0;   // PointerToSymbolTable; 0 once stripped
    uint64_t overlayOffset = 0; // largest PointerToRawData + SizeOfRawData
    uint32_t certOffset = 0;    // security directory: a file offset, not an RVA
    uint32_t certSize = 0;
    const char* arch = nullptr; // "x86" or "x64" once machine, magic and header size agree
};

// Reads the headers of the executable in src. Appends one line per way the image differs
// from what a stub must be (neither i386 PE32 nor x86-64 PE32+, an optional header size
// other than that format's, no sections).
// False when the section table cannot be found at all, so no overlay offset is known.
bool ReadPeLayout(const Source& src, PeLayout* pe, Problems* problems);

// Appends the reasons why an image of fileSize bytes cannot take a payload: unstripped,
// signed, something already after its sections, or truncated.
void CheckStubLayout(const PeLayout& pe, uint64_t fileSize, Problems* problems);

// Where an installer's cabinet must lie: from the overlay offset up to end, the start of the
// certificate table when there is one (after up to maxPadding zero bytes), else end of file.
struct CabinetPlace {
    uint64_t offset = 0;
    uint64_t end = 0;
    uint64_t maxPadding = 0;
};

// Locates the cabinet of an installer of fileSize bytes. Appends layout problems (size
// limit, symbol table, misplaced certificate table). False when no payload area exists.
bool LocateCabinet(const PeLayout& pe, uint64_t fileSize, CabinetPlace* place, Problems* problems);
