#include "compress/e8_translation.h"

#include "compress/lzx_format.h"

static int32_t ReadOperand(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}

static void WriteOperand(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

// Calls f(operand, position) for each E8 the translation covers; f returns the new operand.
template <typename F>
static void ForEachCall(uint8_t* frame, size_t size, uint32_t start, uint32_t frameIndex,
                        F f) {
    if (frameIndex >= kLzxTranslatedFrames || size <= kLzxTranslationTail)
        return;
    const size_t end = size - kLzxTranslationTail;
    for (size_t i = 0; i < end;) {
        if (frame[i] != 0xE8) {
            ++i;
            continue;
        }
        const int64_t pos = int64_t(start) + int64_t(i);
        WriteOperand(frame + i + 1, f(int64_t(ReadOperand(frame + i + 1)), pos));
        i += 5;
    }
}

void TranslateE8(uint8_t* frame, size_t size, uint32_t start, uint32_t frameIndex,
                 uint32_t fileSize) {
    const int64_t limit = fileSize;
    ForEachCall(frame, size, start, frameIndex, [limit](int64_t rel, int64_t pos) {
        if (rel < -pos || rel >= limit)
            return static_cast<int32_t>(rel);
        return static_cast<int32_t>(rel + pos < limit ? rel + pos : rel - limit);
    });
}

void UntranslateE8(uint8_t* frame, size_t size, uint32_t start, uint32_t frameIndex,
                   uint32_t fileSize) {
    const int64_t limit = fileSize;
    ForEachCall(frame, size, start, frameIndex, [limit](int64_t abs, int64_t pos) {
        if (abs < -pos || abs >= limit)
            return static_cast<int32_t>(abs);
        return static_cast<int32_t>(abs >= 0 ? abs - pos : abs + limit);
    });
}
