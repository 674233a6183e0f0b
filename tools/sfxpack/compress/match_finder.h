// Hash chains over a folder's stream for the LZX parsers: positions are offsets in the
// stream; the bytes live in a sliding buffer the encoder owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct MatchFinder {
    const uint8_t* data = nullptr; // the byte at stream position p is data[p - start]
    uint32_t start = 0;
    uint32_t end = 0;              // stream positions below end are final (translated)
    uint32_t maxDistance = 0;
    unsigned hashBits = 16;
    unsigned depth = 32;           // candidates looked at per position
    unsigned niceLength = 64;      // a match this long ends the search
    unsigned lazyLength = 64;      // a match this long is taken without looking one further
    unsigned goodLength = 16;      // past a match this long, the look one further is shorter
    std::vector<uint32_t> head;    // per hash: the latest position + 1, 0 for none
    std::vector<uint32_t> prev;    // per position modulo the window: the previous one + 1
    uint32_t windowMask = 0;
    uint32_t inserted = 0;         // positions below this are in the chains
};

// A match found: its length and distance.
struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

// Sizes the tables for a window of 2^windowBits bytes.
void InitMatchFinder(MatchFinder* m, unsigned windowBits, unsigned hashBits, unsigned depth,
                     unsigned niceLength);

// Adds the positions from m->inserted up to (not including) upTo whose three bytes are final.
void InsertUpTo(MatchFinder* m, uint32_t upTo);

// Leaves the positions from m->inserted up to upTo out of the chains: data that does not
// compress is not worth their cost.
void SkipUpTo(MatchFinder* m, uint32_t upTo);

// The length of the common run of the bytes at a and b, at most limit.
uint32_t MatchLength(const MatchFinder& m, uint32_t a, uint32_t b, uint32_t limit);

// The longest match at pos among the chains (nearest first on ties), of at least 3 bytes and
// at most limit, looking at depth candidates at most; length 0 when none. pos must not be in
// the chains yet.
Match LongestMatch(const MatchFinder& m, uint32_t pos, uint32_t limit, unsigned depth);

// Every improving match at pos: lengths strictly increasing, each at its nearest distance,
// appended to *out. Returns how many.
size_t AllMatches(const MatchFinder& m, uint32_t pos, uint32_t limit, std::vector<Match>* out);
