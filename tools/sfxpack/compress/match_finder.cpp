#include "compress/match_finder.h"

#include <cstring>

static inline uint32_t HashAt(const uint8_t* p, unsigned bits) {
    const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - bits);
}

void InitMatchFinder(MatchFinder* m, unsigned windowBits, unsigned hashBits, unsigned depth,
                     unsigned niceLength) {
    m->hashBits = hashBits;
    m->depth = depth;
    m->niceLength = niceLength;
    m->head.assign(size_t(1) << hashBits, 0);
    m->prev.assign(size_t(1) << windowBits, 0);
    m->windowMask = (uint32_t(1) << windowBits) - 1;
    m->maxDistance = (uint32_t(1) << windowBits) - 3;
    m->inserted = 0;
}

void InsertUpTo(MatchFinder* m, uint32_t upTo) {
    const uint32_t last = m->end >= 2 ? m->end - 2 : 0; // a hash needs three final bytes
    if (upTo > last)
        upTo = last;
    for (uint32_t p = m->inserted; p < upTo; ++p) {
        const uint32_t h = HashAt(m->data + (p - m->start), m->hashBits);
        m->prev[p & m->windowMask] = m->head[h];
        m->head[h] = p + 1;
    }
    if (upTo > m->inserted)
        m->inserted = upTo;
}

void SkipUpTo(MatchFinder* m, uint32_t upTo) {
    if (upTo > m->inserted)
        m->inserted = upTo;
}

uint32_t MatchLength(const MatchFinder& m, uint32_t a, uint32_t b, uint32_t limit) {
    const uint8_t* pa = m.data + (a - m.start);
    const uint8_t* pb = m.data + (b - m.start);
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, pa + n, 8);
        std::memcpy(&y, pb + n, 8);
        if (x != y)
            return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && pa[n] == pb[n])
        ++n;
    return n;
}

// Walks the chain at pos, calling take(length, distance) for each candidate longer than
// the best so far; stops at the depth, the window or a nice length.
template <typename F>
static void WalkChain(const MatchFinder& m, uint32_t pos, uint32_t limit, unsigned depth,
                      F take) {
    if (limit < 3 || pos + 2 >= m.end)
        return;
    const uint8_t* cur = m.data + (pos - m.start);
    uint32_t cand = m.head[HashAt(cur, m.hashBits)];
    uint32_t best = 2;
    for (unsigned steps = depth; cand != 0 && steps > 0; --steps) {
        const uint32_t c = cand - 1;
        const uint32_t distance = pos - c;
        if (c >= pos || distance > m.maxDistance || c < m.start)
            break;
        const uint8_t* p = m.data + (c - m.start);
        if (p[best] == cur[best] && p[0] == cur[0]) {
            const uint32_t len = MatchLength(m, c, pos, limit);
            if (len > best) {
                best = len;
                take(len, distance);
                if (len >= m.niceLength || len >= limit)
                    break;
            }
        }
        const uint32_t next = m.prev[c & m.windowMask];
        if (next >= cand)
            break;
        cand = next;
    }
}

Match LongestMatch(const MatchFinder& m, uint32_t pos, uint32_t limit, unsigned depth) {
    Match found;
    WalkChain(m, pos, limit, depth, [&](uint32_t len, uint32_t distance) {
        found.length = len;
        found.distance = distance;
    });
    return found;
}

size_t AllMatches(const MatchFinder& m, uint32_t pos, uint32_t limit, std::vector<Match>* out) {
    const size_t before = out->size();
    WalkChain(m, pos, limit, m.depth,
              [&](uint32_t len, uint32_t distance) { out->push_back({len, distance}); });
    return out->size() - before;
}
