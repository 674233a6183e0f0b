// The compression a cabinet folder is written with, as the command line names it and as the
// folder entry's typeCompress field holds it. Pure logic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compress/lzx_encoder.h"
#include "util/problems.h"

enum class CompressionKind { None, Mszip, Lzx };

struct Compression {
    CompressionKind kind = CompressionKind::Lzx;
    unsigned windowBits = kLzxMaxWindowBits; // LZX only
    int level = kLzxDefaultLevel;            // LZX only
};

// Parses "none", "mszip", "lzx" or "lzx:N" (N 15 to 21) into *out, keeping its level.
// False with a line in *problems.
bool ParseCompression(const std::string& text, Compression* out, Problems* problems);

// The folder entry's typeCompress value for c.
uint16_t CompressionField(const Compression& c);

// How --list and --check name a typeCompress value: "none", "MSZIP", "Quantum:N", "LZX:N",
// or "unknown (0xNNNN)".
std::string CompressionFieldName(uint16_t field);

// The line --list and --check give for a payload's folders' typeCompress values, in order:
// "compression: LZX:21, 1 folder", each kind with its count when they differ.
std::string DescribeFolderCompression(const std::vector<uint16_t>& fields);

// How the command line names c: "none", "mszip", "lzx:N".
std::string CompressionOptionName(const Compression& c);
