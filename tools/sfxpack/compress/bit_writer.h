// Writes an LZX bitstream: bits taken most significant first into 16-bit words, each word
// stored little-endian.
#pragma once

#include <cstdint>
#include <vector>

struct BitWriter {
    std::vector<uint8_t>* out = nullptr;
    uint64_t pending = 0; // bits not yet stored, the oldest highest
    unsigned count = 0;   // how many, below 16 between calls
};

// Appends the low n bits of value (n at most 32).
inline void PutBits(BitWriter* w, uint32_t value, unsigned n) {
    if (n == 0)
        return;
    w->pending = (w->pending << n) | (value & ((uint64_t(1) << n) - 1));
    w->count += n;
    while (w->count >= 16) {
        w->count -= 16;
        const uint16_t word = static_cast<uint16_t>(w->pending >> w->count);
        w->out->push_back(static_cast<uint8_t>(word));
        w->out->push_back(static_cast<uint8_t>(word >> 8));
    }
}

// Pads the current word with zero bits; nothing when it is complete.
inline void AlignWord(BitWriter* w) {
    if (w->count > 0)
        PutBits(w, 0, 16 - w->count);
}

// Pads as a stored block's header requires: 1 to 16 zero bits, a whole word when aligned.
inline void AlignWordStored(BitWriter* w) {
    PutBits(w, 0, 16 - w->count);
}
