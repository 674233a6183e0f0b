// The LZX bitstream as a cabinet folder carries it: block types, tree sizes, match lengths
// and the position slots that code match offsets. Each field named once.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr unsigned kLzxBlockVerbatim = 1;
constexpr unsigned kLzxBlockAligned = 2;
constexpr unsigned kLzxBlockUncompressed = 3;
constexpr unsigned kLzxBlockTypeBits = 3;
constexpr unsigned kLzxBlockSizeBits = 24;

constexpr unsigned kLzxLiterals = 256;
constexpr unsigned kLzxPrimaryLengths = 7;   // length headers 0-6 code lengths 2-8; 7 says "more"
constexpr unsigned kLzxLengthSymbols = 249;  // the length tree: footers of lengths 9 to 257
constexpr unsigned kLzxMinMatch = 2;
constexpr unsigned kLzxMaxMatch = 257;
constexpr unsigned kLzxMaxSlots = 50;        // for a 2 MiB window
constexpr unsigned kLzxMaxMainSymbols = kLzxLiterals + kLzxMaxSlots * 8;
constexpr unsigned kLzxAlignedSymbols = 8;
constexpr unsigned kLzxAlignedLengthBits = 3;
constexpr unsigned kLzxPretreeSymbols = 20;
constexpr unsigned kLzxPretreeLengthBits = 4;
constexpr unsigned kLzxRepeats = 3;          // slots 0-2 repeat R0, R1, R2

// Code length limits: what the length fields can say, and what decoders' tables take.
constexpr unsigned kLzxMaxCodeLength = 16;
constexpr unsigned kLzxMaxPretreeLength = 15;
constexpr unsigned kLzxMaxAlignedLength = 7;

// Pretree symbols besides the 17 length deltas.
constexpr unsigned kLzxPreZeros4 = 17;   // 4 bits: 4 to 19 zeros
constexpr unsigned kLzxPreZeros20 = 18;  // 5 bits: 20 to 51 zeros
constexpr unsigned kLzxPreSame4 = 19;    // 1 bit: 4 or 5 of one value, then its delta symbol

// The call translation: the stream's header says whether, and with which size; frames past
// the first 32768, and the last 10 bytes of each frame, are never translated.
constexpr uint32_t kLzxTranslationSize = 12000000;
constexpr uint32_t kLzxTranslatedFrames = 32768;
constexpr unsigned kLzxTranslationTail = 10;

// The number of position slots of a window of 2^bits bytes (15 to 21).
unsigned LzxSlotCount(unsigned windowBits);

// Footer bits of position slot s (below kLzxMaxSlots).
unsigned LzxSlotExtraBits(unsigned s);

// The smallest formatted offset of slot s (below kLzxMaxSlots).
uint32_t LzxSlotBase(unsigned s);

// The slot of a formatted offset: 0-2 for the repeats, else distance + 2 (3 upwards).
unsigned LzxSlotOf(uint32_t formatted);

// The largest match distance a window of 2^bits bytes codes.
inline uint32_t LzxMaxDistance(unsigned windowBits) {
    return (uint32_t(1) << windowBits) - 3;
}
