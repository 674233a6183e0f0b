#include "compress/lzx_encoder.h"

#include <cstring>
#include <deque>
#include <new>

#include "compress/e8_translation.h"
#include "compress/lzx_block.h"
#include "compress/lzx_parse.h"
#include "compress/match_finder.h"

// A block spans at most this many frames: its trees adapt no slower than that.
constexpr size_t kMaxBlockFrames = 32;

namespace {
// A parsed frame waiting for the block it will be coded in.
struct ParsedFrame {
    std::vector<LzxToken> tokens;
    LzxStats stats;
    uint32_t size = 0;
};
} // namespace

struct LzxEncoder {
    LzxOptions options;
    LzxSlots slots;
    MatchFinder finder;
    std::vector<uint8_t> buf; // stream bytes from bufStart on
    uint32_t bufStart = 0;
    size_t capacity = 0;
    uint32_t framed = 0; // where the next frame starts; every frame before it is parsed
    uint32_t frameIndex = 0;
    LzxRepeats reps;
    LzxTrees prevTrees; // the last coded block's, which the next block's are coded against
    LzxPrices prices;
    std::vector<ParsedFrame> group; // frames of the block being gathered
    LzxStats groupStats;
    LzxPlan groupPlan;
    std::vector<uint8_t> current; // the frame being written
    BitWriter bits;
    bool headerWritten = false;
    bool finished = false;
    std::deque<LzxFrame> ready;
};

void LzxEncoderDeleter::operator()(LzxEncoder* e) const {
    delete e;
}

LzxEncoderPtr LzxCreate(const LzxOptions& options) {
    if (options.windowBits < kLzxMinWindowBits || options.windowBits > kLzxMaxWindowBits ||
        options.level < kLzxMinLevel || options.level > kLzxMaxLevel)
        return nullptr;
    LzxEncoderPtr e(new (std::nothrow) LzxEncoder);
    if (!e)
        return nullptr;
    e->options = options;
    InitSlots(&e->slots, options.windowBits);
    // Per level: hash bits, chain depth, nice, lazy and good lengths (see MatchFinder).
    static const struct {
        unsigned hashBits, depth, nice, lazy, good;
    } kLevels[] = {{18, 8, 32, 16, 8}, {20, 32, 128, 32, 16}, {20, 48, 192, 192, 192}};
    const auto& lv = kLevels[options.level - 1];
    InitMatchFinder(&e->finder, options.windowBits, lv.hashBits, lv.depth, lv.nice);
    e->finder.lazyLength = lv.lazy;
    e->finder.goodLength = lv.good;
    const size_t window = size_t(1) << options.windowBits;
    e->capacity = 2 * window + 2 * kLzxFrameSize;
    e->buf.reserve(e->capacity);
    for (unsigned i = 0; i < kLzxMaxMainSymbols; ++i)
        e->prices.main[i] = i < kLzxLiterals ? 8 : 10;
    for (unsigned i = 0; i < kLzxLengthSymbols; ++i)
        e->prices.length[i] = 9;
    e->bits.out = &e->current;
    return e;
}

// The stream's header, once, before the first block: the call translation is always on.
static void WriteStreamHeader(LzxEncoder* e) {
    if (e->headerWritten)
        return;
    PutBits(&e->bits, 1, 1);
    PutBits(&e->bits, kLzxTranslationSize >> 16, 16);
    PutBits(&e->bits, kLzxTranslationSize & 0xffff, 16);
    e->headerWritten = true;
}

// Pads the frame just written and makes it ready.
static void EndFrame(LzxEncoder* e, uint32_t size) {
    AlignWord(&e->bits);
    LzxFrame f;
    f.data.swap(e->current);
    f.uncompressed = size;
    e->ready.push_back(std::move(f));
    e->current.clear();
}

// Codes the gathered frames as one block.
static void FlushGroup(LzxEncoder* e) {
    if (e->group.empty())
        return;
    uint32_t size = 0;
    for (const ParsedFrame& f : e->group)
        size += f.size;
    const LzxPlan& plan = e->groupPlan;
    LzxCodes codes;
    BuildBlockCodes(e->slots, plan, &codes);
    WriteStreamHeader(e);
    WriteBlockHeader(e->slots, plan, e->prevTrees, size, &e->bits);
    for (const ParsedFrame& f : e->group) {
        WriteTokens(e->slots, plan, codes, f.tokens.data(), f.tokens.size(), &e->bits);
        EndFrame(e, f.size);
    }
    e->prevTrees = plan.trees;
    e->group.clear();
    e->groupStats = LzxStats();
}

// Writes a frame as a stored block; the repeats it sets are those after its parse.
static void WriteStored(LzxEncoder* e, const uint8_t* data, uint32_t size) {
    WriteStreamHeader(e);
    PutBits(&e->bits, kLzxBlockUncompressed, kLzxBlockTypeBits);
    PutBits(&e->bits, size, kLzxBlockSizeBits);
    AlignWordStored(&e->bits);
    for (uint32_t r : e->reps.r)
        for (int shift = 0; shift < 32; shift += 8)
            e->current.push_back(static_cast<uint8_t>(r >> shift));
    e->current.insert(e->current.end(), data, data + size);
    if (size & 1)
        e->current.push_back(0);
    EndFrame(e, size);
}

// Whether every frame of group, coded under plan, takes no more than stored.
static bool FramesFit(const LzxEncoder& e, const std::vector<ParsedFrame>& group,
                      const ParsedFrame* extra, const LzxPlan& plan) {
    bool first = true;
    auto fits = [&](const ParsedFrame& f) {
        const uint64_t bits = DataBits(e.slots, plan, f.stats) + (first ? plan.headerBits : 0);
        first = false;
        return bits <= StoredBlockBits(f.size);
    };
    for (const ParsedFrame& f : group)
        if (!fits(f))
            return false;
    return !extra || fits(*extra);
}

// Adds a parsed frame to the block being gathered, or closes that block, or stores the frame.
static void QueueFrame(LzxEncoder* e, ParsedFrame&& f, const uint8_t* data) {
    LzxPlan alone;
    PlanBlock(e->slots, f.stats, e->prevTrees, &alone);
    if (alone.bits >= StoredBlockBits(f.size)) {
        FlushGroup(e);
        WriteStored(e, data, f.size);
        return;
    }
    if (!e->group.empty() && e->group.size() < kMaxBlockFrames) {
        LzxStats merged = e->groupStats;
        AddStats(&merged, f.stats);
        LzxPlan plan;
        PlanBlock(e->slots, merged, e->prevTrees, &plan);
        if (plan.bits <= e->groupPlan.bits + alone.bits && FramesFit(*e, e->group, &f, plan)) {
            e->groupStats = merged;
            e->groupPlan = plan;
            e->group.push_back(std::move(f));
            PricesFromTrees(e->slots, plan.trees, &e->prices);
            return;
        }
    }
    FlushGroup(e);
    e->groupStats = f.stats;
    PlanBlock(e->slots, f.stats, e->prevTrees, &e->groupPlan);
    e->group.push_back(std::move(f));
    PricesFromTrees(e->slots, e->groupPlan.trees, &e->prices);
}

// Translates, parses and queues the frame of size bytes at e->framed.
static void ProcessFrame(LzxEncoder* e, uint32_t size) {
    uint8_t* frame = e->buf.data() + (e->framed - e->bufStart);
    TranslateE8(frame, size, e->framed, e->frameIndex, kLzxTranslationSize);
    MatchFinder& m = e->finder;
    m.data = e->buf.data();
    m.start = e->bufStart;
    m.end = e->framed + size;
    ParsedFrame f;
    f.size = size;
    f.tokens.reserve(size / 2);
    if (e->options.level >= 3)
        ParseOptimal(&m, e->slots, e->prices, e->framed, e->framed + size, &e->reps, &f.tokens);
    else
        ParseLazy(&m, e->framed, e->framed + size, &e->reps, &f.tokens);
    CountTokens(e->slots, f.tokens.data(), f.tokens.size(), &f.stats);
    QueueFrame(e, std::move(f), frame);
    e->framed += size;
    ++e->frameIndex;
}

// Drops bytes the window no longer reaches so that room more fit.
static void MakeRoom(LzxEncoder* e, size_t room) {
    if (e->buf.size() + room <= e->capacity)
        return;
    const uint32_t window = uint32_t(1) << e->options.windowBits;
    const uint32_t keepFrom = e->framed > window ? e->framed - window : 0;
    const size_t drop = keepFrom - e->bufStart;
    e->buf.erase(e->buf.begin(), e->buf.begin() + static_cast<ptrdiff_t>(drop));
    e->bufStart = keepFrom;
}

void LzxWrite(LzxEncoder* e, const uint8_t* data, size_t size) {
    while (size > 0) {
        const uint32_t inFrame = e->bufStart + static_cast<uint32_t>(e->buf.size()) - e->framed;
        const size_t take = std::min<size_t>(size, kLzxFrameSize - inFrame);
        MakeRoom(e, take);
        e->buf.insert(e->buf.end(), data, data + take);
        data += take;
        size -= take;
        if (inFrame + take == kLzxFrameSize)
            ProcessFrame(e, kLzxFrameSize);
    }
}

void LzxFinish(LzxEncoder* e) {
    if (e->finished)
        return;
    const uint32_t rest = e->bufStart + static_cast<uint32_t>(e->buf.size()) - e->framed;
    if (rest > 0)
        ProcessFrame(e, rest);
    FlushGroup(e);
    e->finished = true;
}

bool LzxTakeFrame(LzxEncoder* e, LzxFrame* out) {
    if (e->ready.empty())
        return false;
    *out = std::move(e->ready.front());
    e->ready.pop_front();
    return true;
}
