#include "compress/huffman.h"

#include <algorithm>

// Depths of an unlimited Huffman tree over the used symbols in syms (sorted by frequency,
// then symbol), written to lengths.
static void HuffmanDepths(const std::vector<uint32_t>& syms, const uint32_t* freqs,
                          uint8_t* lengths) {
    const size_t n = syms.size();
    // Two-queue construction: leaves in order, internal nodes made in order of weight.
    std::vector<uint64_t> weight(2 * n);
    std::vector<uint32_t> parent(2 * n, 0);
    for (size_t i = 0; i < n; ++i)
        weight[i] = freqs[syms[i]];
    size_t leaf = 0, node = n, made = n;
    auto take = [&]() -> size_t {
        if (leaf < n && (node >= made || weight[leaf] <= weight[node]))
            return leaf++;
        return node++;
    };
    while (made < 2 * n - 1) {
        const size_t a = take(), b = take();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint32_t>(made);
        ++made;
    }
    std::vector<uint32_t> depth(2 * n, 0);
    for (size_t i = 2 * n - 2; i-- > 0;)
        depth[i] = depth[parent[i]] + 1;
    for (size_t i = 0; i < n; ++i)
        lengths[syms[i]] = static_cast<uint8_t>(std::min<uint32_t>(depth[i], 255));
}

void BuildLengths(const uint32_t* freqs, unsigned count, unsigned maxLength, uint8_t* lengths) {
    std::fill(lengths, lengths + count, 0);
    std::vector<uint32_t> f(freqs, freqs + count);
    std::vector<uint32_t> syms;
    for (unsigned i = 0; i < count; ++i)
        if (f[i] > 0)
            syms.push_back(i);
    if (syms.empty())
        return;
    if (syms.size() == 1) {
        // A lone code of one bit is incomplete: its neighbour takes the other.
        lengths[syms[0]] = 1;
        lengths[syms[0] == 0 ? 1 : syms[0] - 1] = 1;
        return;
    }
    for (;;) {
        std::stable_sort(syms.begin(), syms.end(),
                         [&](uint32_t a, uint32_t b) { return f[a] < f[b]; });
        HuffmanDepths(syms, f.data(), lengths);
        unsigned longest = 0;
        for (uint32_t s : syms)
            longest = std::max<unsigned>(longest, lengths[s]);
        if (longest <= maxLength)
            return;
        // Flatten the frequencies until the deepest code fits.
        for (uint32_t s : syms)
            f[s] = (f[s] >> 1) | 1;
    }
}

void BuildCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
    unsigned perLength[17] = {};
    for (unsigned i = 0; i < count; ++i)
        if (lengths[i] > 0 && lengths[i] <= 16)
            ++perLength[lengths[i]];
    uint32_t next[18] = {};
    uint32_t code = 0;
    for (unsigned len = 1; len <= 16; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    // perLength[0] counts nothing: unused symbols are skipped above.
    for (unsigned i = 0; i < count; ++i)
        codes[i] = lengths[i] > 0 ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
}
