// An LZX compressor for one cabinet folder's stream: the folder's files, concatenated, in,
// the payloads of its data blocks (CFDATA) out, one per 32 KiB frame. Deterministic: the
// same input and options give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

constexpr unsigned kLzxMinWindowBits = 15;
constexpr unsigned kLzxMaxWindowBits = 21;
constexpr unsigned kLzxFrameSize = 32768; // uncompressed bytes of every frame but the last

// How hard to look for matches: 1 lazy with short chains, 2 lazy with long chains (the
// default), 3 a near-optimal parse.
constexpr int kLzxMinLevel = 1;
constexpr int kLzxDefaultLevel = 2;
constexpr int kLzxMaxLevel = 3;

struct LzxOptions {
    unsigned windowBits = kLzxMaxWindowBits; // kLzxMinWindowBits to kLzxMaxWindowBits
    int level = kLzxDefaultLevel;            // kLzxMinLevel to kLzxMaxLevel
};

// One data block's payload: a whole frame of the bitstream, padded to 16 bits.
struct LzxFrame {
    std::vector<uint8_t> data; // at most kLzxFrameSize + kLzxMaxFrameGrowth bytes
    uint32_t uncompressed = 0; // kLzxFrameSize, or less for the folder's last frame
};

// The most a frame's payload exceeds its uncompressed size: a stored block's header, its
// three repeated offsets, padding, and the stream's translation header in the first frame.
constexpr size_t kLzxMaxFrameGrowth = 24;

struct LzxEncoder;
struct LzxEncoderDeleter {
    void operator()(LzxEncoder* e) const;
};
using LzxEncoderPtr = std::unique_ptr<LzxEncoder, LzxEncoderDeleter>;

// A new encoder for one folder; null when options are out of range or memory is short.
LzxEncoderPtr LzxCreate(const LzxOptions& options);

// Appends size bytes of the folder's stream. Frames become ready as input accumulates.
void LzxWrite(LzxEncoder* e, const uint8_t* data, size_t size);

// Ends the stream: every frame, the last one short, becomes ready. Nothing may be written
// after. A folder without a byte has no frame.
void LzxFinish(LzxEncoder* e);

// Moves the oldest ready frame into *out. False when none is ready.
bool LzxTakeFrame(LzxEncoder* e, LzxFrame* out);
