// LZX blocks from parsed tokens: their statistics, trees, cost in bits, and their bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "compress/bit_writer.h"
#include "compress/lzx_format.h"

// A literal (length 0) or a match. A match's offset is formatted: 0 to 2 repeat R0 to R2,
// from 3 it is the distance + 2.
struct LzxToken {
    uint32_t length = 0; // 0, or kLzxMinMatch to kLzxMaxMatch
    uint32_t value = 0;  // the literal byte, or the formatted offset
};

// The slot tables of one window size.
struct LzxSlots {
    unsigned count = 0;       // position slots
    unsigned mainSymbols = 0; // kLzxLiterals + 8 per slot
    uint32_t base[kLzxMaxSlots + 1] = {};
    uint8_t extra[kLzxMaxSlots + 1] = {};
};

void InitSlots(LzxSlots* s, unsigned windowBits);

// Symbol counts of a run of tokens.
struct LzxStats {
    uint32_t main[kLzxMaxMainSymbols] = {};
    uint32_t length[kLzxLengthSymbols] = {};
    uint32_t aligned[kLzxAlignedSymbols] = {};
    uint64_t footerBits = 0;        // verbatim footer bits in a verbatim block
    uint64_t alignedFooterBits = 0; // footer bits coded by the aligned tree instead
    uint64_t bytes = 0;             // uncompressed bytes
};

void CountTokens(const LzxSlots& slots, const LzxToken* tokens, size_t count, LzxStats* stats);
void AddStats(LzxStats* to, const LzxStats& from);

// Code lengths of a block's trees.
struct LzxTrees {
    uint8_t main[kLzxMaxMainSymbols] = {};
    uint8_t length[kLzxLengthSymbols] = {};
    uint8_t aligned[kLzxAlignedSymbols] = {};
};

// The trees, block type (verbatim or aligned) and cost in bits of coding stats as one block,
// the main and length trees delta-coded against prev.
struct LzxPlan {
    LzxTrees trees;
    unsigned type = kLzxBlockVerbatim;
    uint64_t headerBits = 0; // type, size and trees
    uint64_t bits = 0;       // header and data, without frame padding
};

void PlanBlock(const LzxSlots& slots, const LzxStats& stats, const LzxTrees& prev,
               LzxPlan* plan);

// The bits stats take as data of the planned block (symbols and footers).
uint64_t DataBits(const LzxSlots& slots, const LzxPlan& plan, const LzxStats& stats);

// The bits of a stored block of bytes bytes: header, padding, repeated offsets, data.
uint64_t StoredBlockBits(uint64_t bytes);

// Writes the header of the block planned (type, size, trees) to w.
void WriteBlockHeader(const LzxSlots& slots, const LzxPlan& plan, const LzxTrees& prev,
                      uint32_t size, BitWriter* w);

// The codes of a planned block, for writing its tokens.
struct LzxCodes {
    uint16_t main[kLzxMaxMainSymbols] = {};
    uint16_t length[kLzxLengthSymbols] = {};
    uint16_t aligned[kLzxAlignedSymbols] = {};
};

void BuildBlockCodes(const LzxSlots& slots, const LzxPlan& plan, LzxCodes* codes);

// Writes tokens with the planned block's codes.
void WriteTokens(const LzxSlots& slots, const LzxPlan& plan, const LzxCodes& codes,
                 const LzxToken* tokens, size_t count, BitWriter* w);
