#include "compress/lzx_block.h"

#include <algorithm>

#include "compress/huffman.h"

void InitSlots(LzxSlots* s, unsigned windowBits) {
    s->count = LzxSlotCount(windowBits);
    s->mainSymbols = kLzxLiterals + 8 * s->count;
    for (unsigned i = 0; i <= kLzxMaxSlots; ++i) {
        s->base[i] = LzxSlotBase(i);
        s->extra[i] = static_cast<uint8_t>(LzxSlotExtraBits(i));
    }
}

// The main symbol of a match, its slot, and its length footer (-1 for none).
struct MatchSymbols {
    unsigned main;
    unsigned slot;
    int lengthFooter;
};

static inline MatchSymbols SymbolsOf(const LzxToken& t) {
    const unsigned slot = LzxSlotOf(t.value);
    const unsigned header = std::min<unsigned>(t.length - kLzxMinMatch, kLzxPrimaryLengths);
    MatchSymbols s;
    s.main = kLzxLiterals + slot * 8 + header;
    s.slot = slot;
    s.lengthFooter =
        header == kLzxPrimaryLengths ? int(t.length - kLzxMinMatch - kLzxPrimaryLengths) : -1;
    return s;
}

void CountTokens(const LzxSlots& slots, const LzxToken* tokens, size_t count, LzxStats* stats) {
    for (size_t i = 0; i < count; ++i) {
        const LzxToken& t = tokens[i];
        if (t.length == 0) {
            ++stats->main[t.value];
            ++stats->bytes;
            continue;
        }
        stats->bytes += t.length;
        const MatchSymbols s = SymbolsOf(t);
        ++stats->main[s.main];
        if (s.lengthFooter >= 0)
            ++stats->length[s.lengthFooter];
        const unsigned extra = slots.extra[s.slot];
        stats->footerBits += extra;
        if (extra >= 3) {
            ++stats->aligned[(t.value - slots.base[s.slot]) & 7];
            stats->alignedFooterBits += 3;
        }
    }
}

void AddStats(LzxStats* to, const LzxStats& from) {
    for (unsigned i = 0; i < kLzxMaxMainSymbols; ++i)
        to->main[i] += from.main[i];
    for (unsigned i = 0; i < kLzxLengthSymbols; ++i)
        to->length[i] += from.length[i];
    for (unsigned i = 0; i < kLzxAlignedSymbols; ++i)
        to->aligned[i] += from.aligned[i];
    to->footerBits += from.footerBits;
    to->alignedFooterBits += from.alignedFooterBits;
    to->bytes += from.bytes;
}

// One pretree item: a symbol and the bits that follow it.
struct PreItem {
    uint8_t symbol;
    uint8_t extraBits;
    uint8_t extra;
};

// The pretree items that turn prev[0..count) into next[0..count).
static void LengthItems(const uint8_t* prev, const uint8_t* next, unsigned count,
                        std::vector<PreItem>* items) {
    items->clear();
    for (unsigned i = 0; i < count;) {
        unsigned run = 1;
        while (i + run < count && next[i + run] == next[i])
            ++run;
        if (next[i] == 0 && run >= 20) {
            const unsigned n = std::min(run, 51u);
            items->push_back({kLzxPreZeros20, 5, static_cast<uint8_t>(n - 20)});
            i += n;
        } else if (next[i] == 0 && run >= 4) {
            const unsigned n = std::min(run, 19u);
            items->push_back({kLzxPreZeros4, 4, static_cast<uint8_t>(n - 4)});
            i += n;
        } else if (run >= 4) {
            const unsigned n = std::min(run, 5u);
            items->push_back({kLzxPreSame4, 1, static_cast<uint8_t>(n - 4)});
            items->push_back({static_cast<uint8_t>((prev[i] + 17 - next[i]) % 17), 0, 0});
            i += n;
        } else {
            items->push_back({static_cast<uint8_t>((prev[i] + 17 - next[i]) % 17), 0, 0});
            ++i;
        }
    }
}

// Codes prev -> next through a fresh pretree: its bits, and written to w when given.
static uint64_t CodeLengths(const uint8_t* prev, const uint8_t* next, unsigned count,
                            BitWriter* w) {
    std::vector<PreItem> items;
    LengthItems(prev, next, count, &items);
    uint32_t freqs[kLzxPretreeSymbols] = {};
    for (const PreItem& it : items)
        ++freqs[it.symbol];
    uint8_t lengths[kLzxPretreeSymbols];
    BuildLengths(freqs, kLzxPretreeSymbols, kLzxMaxPretreeLength, lengths);
    uint64_t bits = kLzxPretreeSymbols * kLzxPretreeLengthBits;
    for (const PreItem& it : items)
        bits += lengths[it.symbol] + it.extraBits;
    if (w) {
        uint16_t codes[kLzxPretreeSymbols];
        BuildCodes(lengths, kLzxPretreeSymbols, codes);
        for (unsigned i = 0; i < kLzxPretreeSymbols; ++i)
            PutBits(w, lengths[i], kLzxPretreeLengthBits);
        for (const PreItem& it : items) {
            PutBits(w, codes[it.symbol], lengths[it.symbol]);
            PutBits(w, it.extra, it.extraBits);
        }
    }
    return bits;
}

// The three delta-coded runs of a block header: main literals, main matches, lengths.
static uint64_t CodeTrees(const LzxSlots& slots, const LzxTrees& next, const LzxTrees& prev,
                          BitWriter* w) {
    uint64_t bits = CodeLengths(prev.main, next.main, kLzxLiterals, w);
    bits += CodeLengths(prev.main + kLzxLiterals, next.main + kLzxLiterals,
                        slots.mainSymbols - kLzxLiterals, w);
    bits += CodeLengths(prev.length, next.length, kLzxLengthSymbols, w);
    return bits;
}

static uint64_t SymbolBits(const uint32_t* freqs, const uint8_t* lengths, unsigned count) {
    uint64_t bits = 0;
    for (unsigned i = 0; i < count; ++i)
        bits += uint64_t(freqs[i]) * lengths[i];
    return bits;
}

uint64_t DataBits(const LzxSlots& slots, const LzxPlan& plan, const LzxStats& stats) {
    const LzxTrees& t = plan.trees;
    uint64_t bits = SymbolBits(stats.main, t.main, slots.mainSymbols) +
                    SymbolBits(stats.length, t.length, kLzxLengthSymbols) + stats.footerBits;
    if (plan.type == kLzxBlockAligned)
        bits += SymbolBits(stats.aligned, t.aligned, kLzxAlignedSymbols) - stats.alignedFooterBits;
    return bits;
}

void PlanBlock(const LzxSlots& slots, const LzxStats& stats, const LzxTrees& prev,
               LzxPlan* plan) {
    LzxTrees& t = plan->trees;
    BuildLengths(stats.main, slots.mainSymbols, kLzxMaxCodeLength, t.main);
    std::fill(t.main + slots.mainSymbols, t.main + kLzxMaxMainSymbols, 0);
    // An empty length tree is valid, but not every decoder has been seen to take one: a
    // block without long matches still gets a tree of two codes.
    uint32_t lengthFreqs[kLzxLengthSymbols];
    std::copy(stats.length, stats.length + kLzxLengthSymbols, lengthFreqs);
    if (std::all_of(lengthFreqs, lengthFreqs + kLzxLengthSymbols, [](uint32_t f) { return !f; }))
        lengthFreqs[0] = lengthFreqs[1] = 1;
    BuildLengths(lengthFreqs, kLzxLengthSymbols, kLzxMaxCodeLength, t.length);
    BuildLengths(stats.aligned, kLzxAlignedSymbols, kLzxMaxAlignedLength, t.aligned);
    const uint64_t header =
        kLzxBlockTypeBits + kLzxBlockSizeBits + CodeTrees(slots, t, prev, nullptr);
    plan->type = kLzxBlockVerbatim;
    const uint64_t verbatim = header + DataBits(slots, *plan, stats);
    uint64_t aligned = UINT64_MAX;
    if (stats.alignedFooterBits > 0) {
        plan->type = kLzxBlockAligned;
        aligned = header + kLzxAlignedSymbols * kLzxAlignedLengthBits +
                  DataBits(slots, *plan, stats);
    }
    plan->type = aligned < verbatim ? kLzxBlockAligned : kLzxBlockVerbatim;
    plan->headerBits = header + (plan->type == kLzxBlockAligned
                                     ? kLzxAlignedSymbols * kLzxAlignedLengthBits
                                     : 0);
    plan->bits = std::min(aligned, verbatim);
}

uint64_t StoredBlockBits(uint64_t bytes) {
    // Header, at worst a whole word of padding, R0-R2, the data and a pad byte.
    return kLzxBlockTypeBits + kLzxBlockSizeBits + 16 + 96 + 8 * (bytes + (bytes & 1));
}

void WriteBlockHeader(const LzxSlots& slots, const LzxPlan& plan, const LzxTrees& prev,
                      uint32_t size, BitWriter* w) {
    PutBits(w, plan.type, kLzxBlockTypeBits);
    PutBits(w, size, kLzxBlockSizeBits);
    if (plan.type == kLzxBlockAligned)
        for (unsigned i = 0; i < kLzxAlignedSymbols; ++i)
            PutBits(w, plan.trees.aligned[i], kLzxAlignedLengthBits);
    CodeTrees(slots, plan.trees, prev, w);
}

void BuildBlockCodes(const LzxSlots& slots, const LzxPlan& plan, LzxCodes* codes) {
    BuildCodes(plan.trees.main, slots.mainSymbols, codes->main);
    BuildCodes(plan.trees.length, kLzxLengthSymbols, codes->length);
    BuildCodes(plan.trees.aligned, kLzxAlignedSymbols, codes->aligned);
}

void WriteTokens(const LzxSlots& slots, const LzxPlan& plan, const LzxCodes& codes,
                 const LzxToken* tokens, size_t count, BitWriter* w) {
    const LzxTrees& t = plan.trees;
    const bool aligned = plan.type == kLzxBlockAligned;
    for (size_t i = 0; i < count; ++i) {
        const LzxToken& tok = tokens[i];
        if (tok.length == 0) {
            PutBits(w, codes.main[tok.value], t.main[tok.value]);
            continue;
        }
        const MatchSymbols s = SymbolsOf(tok);
        PutBits(w, codes.main[s.main], t.main[s.main]);
        if (s.lengthFooter >= 0)
            PutBits(w, codes.length[s.lengthFooter], t.length[s.lengthFooter]);
        const unsigned extra = slots.extra[s.slot];
        if (extra == 0)
            continue;
        const uint32_t footer = tok.value - slots.base[s.slot];
        if (aligned && extra >= 3) {
            PutBits(w, footer >> 3, extra - 3);
            PutBits(w, codes.aligned[footer & 7], t.aligned[footer & 7]);
        } else {
            PutBits(w, footer, extra);
        }
    }
}
