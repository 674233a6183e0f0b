// Length-limited Huffman codes, canonical as the LZX trees are: codes assigned in order of
// length, then of symbol. Pure.
#pragma once

#include <cstdint>
#include <vector>

// Sets lengths[i] for symbols with freqs[i] > 0, each at most maxLength, 0 for the others.
// A tree of one used symbol gets a second (its neighbour) so that decoders see a complete
// code; no used symbol gives all lengths 0. Deterministic: ties go to the lower symbol.
void BuildLengths(const uint32_t* freqs, unsigned count, unsigned maxLength, uint8_t* lengths);

// The canonical codes of lengths (each at most 16 bits), read most significant bit first.
void BuildCodes(const uint8_t* lengths, unsigned count, uint16_t* codes);
