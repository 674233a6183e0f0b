// Turns a frame of a folder's stream into LZX tokens: literals, new matches and repeated
// matches, none of them past the frame's end.
#pragma once

#include <cstdint>
#include <vector>

#include "compress/lzx_block.h"
#include "compress/match_finder.h"

// The three repeated offsets, R0 first, as the decoder keeps them.
struct LzxRepeats {
    uint32_t r[kLzxRepeats] = {1, 1, 1};
};

// Applies a match's formatted offset to the repeats, as the decoder does.
void UpdateRepeats(LzxRepeats* reps, uint32_t formatted, uint32_t distance);

// Parses [start, end) of the stream greedily with one step of lazy evaluation, appending to
// *out and advancing *reps. The finder's bytes must be final up to end.
void ParseLazy(MatchFinder* m, uint32_t start, uint32_t end, LzxRepeats* reps,
               std::vector<LzxToken>* out);

// Prices in bits of each symbol, from the trees of earlier blocks or estimates.
struct LzxPrices {
    uint8_t main[kLzxMaxMainSymbols];
    uint8_t length[kLzxLengthSymbols];
};

// Sets prices from trees, an unused symbol priced as if rare.
void PricesFromTrees(const LzxSlots& slots, const LzxTrees& trees, LzxPrices* prices);

// Parses [start, end) for the least bits under prices (a shortest path over the frame with
// the repeats followed along each path), appending to *out and advancing *reps.
void ParseOptimal(MatchFinder* m, const LzxSlots& slots, const LzxPrices& prices,
                  uint32_t start, uint32_t end, LzxRepeats* reps, std::vector<LzxToken>* out);
