#include "compress/lzx_parse.h"

#include <algorithm>
#include <climits>

void UpdateRepeats(LzxRepeats* reps, uint32_t formatted, uint32_t distance) {
    uint32_t* r = reps->r;
    if (formatted == 0)
        return;
    if (formatted < kLzxRepeats) {
        std::swap(r[0], r[formatted]);
        return;
    }
    r[2] = r[1];
    r[1] = r[0];
    r[0] = distance;
}

// A candidate match for the lazy parser, with its estimated gain over literals in bits.
struct Candidate {
    uint32_t length = 0;
    uint32_t formatted = 0;
    uint32_t distance = 0;
    int gain = 0;
};

// Bits a match costs, roughly: its main symbol, length footer and offset footer.
static int MatchCost(uint32_t formatted, uint32_t length) {
    int bits = length >= kLzxMinMatch + kLzxPrimaryLengths ? 6 : 0;
    if (formatted < kLzxRepeats)
        return bits + 5;
    return bits + 9 + static_cast<int>(LzxSlotExtraBits(LzxSlotOf(formatted)));
}

static void Consider(Candidate* best, uint32_t length, uint32_t formatted, uint32_t distance) {
    const int gain = 8 * static_cast<int>(length) - MatchCost(formatted, length);
    if (gain > best->gain)
        *best = {length, formatted, distance, gain};
}

// The best match at pos: the repeats first, then the chains; none past limit bytes.
static Candidate BestAt(const MatchFinder& m, uint32_t pos, uint32_t limit,
                        const LzxRepeats& reps, unsigned depth) {
    Candidate best;
    if (limit < kLzxMinMatch)
        return best;
    for (uint32_t k = 0; k < kLzxRepeats; ++k) {
        const uint32_t d = reps.r[k];
        if (d > pos || (k > 0 && (d == reps.r[0] || (k == 2 && d == reps.r[1]))))
            continue;
        const uint32_t len = MatchLength(m, pos - d, pos, limit);
        if (len >= kLzxMinMatch)
            Consider(&best, len, k, d);
    }
    const Match found = LongestMatch(m, pos, limit, depth);
    if (found.length > best.length) {
        uint32_t formatted = found.distance + 2;
        for (uint32_t k = 0; k < kLzxRepeats; ++k)
            if (reps.r[k] == found.distance) {
                formatted = k;
                break;
            }
        Consider(&best, found.length, formatted, found.distance);
    }
    return best;
}

static void EmitLiteral(const MatchFinder& m, uint32_t pos, std::vector<LzxToken>* out) {
    out->push_back({0, m.data[pos - m.start]});
}

// After this many literals in a row the parser looks at fewer positions, more of them
// skipped the longer the run: data that does not compress costs little time.
constexpr uint32_t kSkipAfter = 64;
constexpr uint32_t kMaxSkip = 32;

void ParseLazy(MatchFinder* m, uint32_t start, uint32_t end, LzxRepeats* reps,
               std::vector<LzxToken>* out) {
    uint32_t pos = start;
    Candidate carried;
    bool haveCarried = false;
    uint32_t misses = 0; // literals in a row
    while (pos < end) {
        const uint32_t limit = std::min<uint32_t>(kLzxMaxMatch, end - pos);
        InsertUpTo(m, pos);
        const Candidate cur = haveCarried ? carried : BestAt(*m, pos, limit, *reps, m->depth);
        haveCarried = false;
        if (cur.gain <= 0) {
            uint32_t step = 1;
            if (misses >= kSkipAfter)
                step = std::min(std::min(1 + (misses - kSkipAfter) / 16, kMaxSkip), end - pos);
            for (uint32_t i = 0; i < step; ++i)
                EmitLiteral(*m, pos + i, out);
            InsertUpTo(m, pos + 1);
            SkipUpTo(m, pos + step);
            pos += step;
            misses += step;
            continue;
        }
        misses = 0;
        if (cur.length < m->lazyLength && pos + 1 < end) {
            InsertUpTo(m, pos + 1);
            const unsigned depth = cur.length >= m->goodLength ? m->depth / 4 + 1 : m->depth;
            const Candidate next = BestAt(
                *m, pos + 1, std::min<uint32_t>(kLzxMaxMatch, end - pos - 1), *reps, depth);
            if (next.gain > cur.gain + 8) {
                EmitLiteral(*m, pos, out);
                ++pos;
                carried = next;
                haveCarried = true;
                continue;
            }
        }
        out->push_back({cur.length, cur.formatted});
        UpdateRepeats(reps, cur.formatted, cur.distance);
        pos += cur.length;
    }
    InsertUpTo(m, end);
}

void PricesFromTrees(const LzxSlots& slots, const LzxTrees& trees, LzxPrices* prices) {
    for (unsigned i = 0; i < kLzxMaxMainSymbols; ++i) {
        const uint8_t len = trees.main[i];
        prices->main[i] = len ? len : (i < kLzxLiterals ? 11 : 13);
    }
    for (unsigned i = 0; i < kLzxLengthSymbols; ++i)
        prices->length[i] = trees.length[i] ? trees.length[i] : 11;
    (void)slots;
}

namespace {
// One position of the shortest path: how it is best reached, and the repeats after that.
struct Node {
    uint32_t cost = UINT32_MAX;
    uint32_t length = 0; // of the token that ends here; 0 for a literal
    uint32_t formatted = 0;
    LzxRepeats reps;
};
} // namespace

static inline uint32_t MatchPrice(const LzxSlots& slots, const LzxPrices& prices, unsigned slot,
                                  uint32_t length) {
    const unsigned header = std::min<unsigned>(length - kLzxMinMatch, kLzxPrimaryLengths);
    uint32_t bits = prices.main[kLzxLiterals + slot * 8 + header] + slots.extra[slot];
    if (header == kLzxPrimaryLengths)
        bits += prices.length[length - kLzxMinMatch - kLzxPrimaryLengths];
    return bits;
}

static inline void Relax(std::vector<Node>& nodes, uint32_t to, uint32_t cost, uint32_t length,
                         uint32_t formatted, uint32_t distance, const LzxRepeats& from) {
    Node& n = nodes[to];
    if (cost >= n.cost)
        return;
    n.cost = cost;
    n.length = length;
    n.formatted = formatted;
    n.reps = from;
    UpdateRepeats(&n.reps, formatted, distance);
}

void ParseOptimal(MatchFinder* m, const LzxSlots& slots, const LzxPrices& prices,
                  uint32_t start, uint32_t end, LzxRepeats* reps, std::vector<LzxToken>* out) {
    const uint32_t n = end - start;
    std::vector<Node> nodes(n + 1);
    nodes[0].cost = 0;
    nodes[0].reps = *reps;
    std::vector<Match> matches;
    uint32_t skipTo = 0; // after a nice match, positions before this are not expanded
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pos = start + i;
        InsertUpTo(m, pos);
        const Node& here = nodes[i];
        if (here.cost == UINT32_MAX || i < skipTo)
            continue;
        const uint32_t limit = std::min<uint32_t>(kLzxMaxMatch, n - i);
        const uint8_t byte = m->data[pos - m->start];
        Node& next = nodes[i + 1];
        if (here.cost + prices.main[byte] < next.cost) {
            next.cost = here.cost + prices.main[byte];
            next.length = 0;
            next.formatted = byte;
            next.reps = here.reps;
        }
        if (limit < kLzxMinMatch)
            continue;
        const LzxRepeats from = here.reps;
        const uint32_t base = here.cost;
        uint32_t longestRep = 0;
        for (uint32_t k = 0; k < kLzxRepeats; ++k) {
            const uint32_t d = from.r[k];
            if (d > pos || (k > 0 && (d == from.r[0] || (k == 2 && d == from.r[1]))))
                continue;
            const uint32_t len = MatchLength(*m, pos - d, pos, limit);
            for (uint32_t l = kLzxMinMatch; l <= len; ++l)
                Relax(nodes, i + l, base + MatchPrice(slots, prices, k, l), l, k, d, from);
            longestRep = std::max(longestRep, len);
        }
        matches.clear();
        AllMatches(*m, pos, limit, &matches);
        uint32_t covered = kLzxMinMatch; // lengths up to this are priced already
        for (const Match& mt : matches) {
            uint32_t formatted = mt.distance + 2;
            for (uint32_t k = 0; k < kLzxRepeats; ++k)
                if (from.r[k] == mt.distance) {
                    formatted = k;
                    break;
                }
            const unsigned slot = LzxSlotOf(formatted);
            for (uint32_t l = covered + 1; l <= mt.length; ++l)
                Relax(nodes, i + l, base + MatchPrice(slots, prices, slot, l), l, formatted,
                      mt.distance, from);
            covered = std::max(covered, mt.length);
        }
        const uint32_t longest = std::max(longestRep, covered);
        if (longest >= m->niceLength)
            skipTo = i + longest;
    }
    InsertUpTo(m, end);
    // Walk back from the end, then emit in order.
    std::vector<LzxToken> path;
    for (uint32_t i = n; i > 0;) {
        const Node& nd = nodes[i];
        if (nd.length == 0) {
            path.push_back({0, nd.formatted});
            --i;
        } else {
            path.push_back({nd.length, nd.formatted});
            i -= nd.length;
        }
    }
    out->insert(out->end(), path.rbegin(), path.rend());
    *reps = nodes[n].reps;
}
