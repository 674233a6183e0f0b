// One-folder LZX cabinets built in memory from the encoder's frames, and libmspack's cabinet
// decompressor reading them back from memory: the round trip the LZX tests and the fuzz
// harness check.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compress/lzx_encoder.h"

// Hands out the folder's stream piece by piece: *out gets the next bytes (empty at the end).
using StreamSource = std::function<void(std::vector<uint8_t>* out)>;

// Receives extracted bytes in order; false stops the extraction with an error.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

// Why a frame breaks what a data block may carry: "" when every frame is fine.
struct LzxCabinet {
    std::vector<uint8_t> bytes;
    size_t frames = 0;
    std::string frameFault; // the first frame out of bounds, "" when none
};

// A cabinet of one LZX folder holding files of these sizes, in order, whose concatenation
// source yields; files are named f0, f1, ... False when the encoder cannot be created or the
// folder needs more than 65535 data blocks.
bool BuildLzxCabinet(const LzxOptions& options, const std::vector<uint32_t>& fileSizes,
                     const StreamSource& source, LzxCabinet* cab);

// Extracts file index of cab with libmspack into sink. Returns libmspack's error code
// (0 when the file came out whole) and its description in *why.
int MspackExtract(const std::vector<uint8_t>& cab, unsigned index, const ByteSink& sink,
                  std::string* why);

// The whole-buffer forms of the two: files' bytes in, each file's extracted bytes out.
bool BuildLzxCabinetOf(const LzxOptions& options, const std::vector<std::vector<uint8_t>>& files,
                       LzxCabinet* cab);
int MspackExtractAll(const std::vector<uint8_t>& cab, size_t fileCount,
                     std::vector<std::vector<uint8_t>>* files, std::string* why);
