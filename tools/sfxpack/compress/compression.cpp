#include "compress/compression.h"

#include "cab_format.h"
#include "util/hex.h"
#include "util/numbers.h"

// typeCompress: the type in the low 4 bits; LZX and Quantum keep their window bits at 8-12.
constexpr uint16_t kTypeNone = 0;
constexpr uint16_t kTypeMszip = 1;
constexpr uint16_t kTypeQuantum = 2;
constexpr unsigned kWindowShift = 8;
constexpr uint16_t kWindowMask = 0x1f;

bool ParseCompression(const std::string& text, Compression* out, Problems* problems) {
    Compression c = *out;
    if (text == "none") {
        c.kind = CompressionKind::None;
    } else if (text == "mszip") {
        c.kind = CompressionKind::Mszip;
    } else if (text == "lzx") {
        c.kind = CompressionKind::Lzx;
        c.windowBits = kLzxMaxWindowBits;
    } else if (text.compare(0, 4, "lzx:") == 0) {
        uint64_t bits = 0;
        if (!ParseUnsigned(text.c_str() + 4, kLzxMaxWindowBits, &bits) || bits < kLzxMinWindowBits ||
            bits > kLzxMaxWindowBits)
            return Fail(problems, "--compression " + text + ": the LZX window is 15 to 21 bits");
        c.kind = CompressionKind::Lzx;
        c.windowBits = static_cast<unsigned>(bits);
    } else {
        return Fail(problems,
                    "--compression " + text + ": expected none, mszip, lzx or lzx:15 to lzx:21");
    }
    *out = c;
    return true;
}

uint16_t CompressionField(const Compression& c) {
    switch (c.kind) {
    case CompressionKind::None:
        return kTypeNone;
    case CompressionKind::Mszip:
        return kTypeMszip;
    case CompressionKind::Lzx:
        break;
    }
    return static_cast<uint16_t>(kCompressionLzx | (c.windowBits << kWindowShift));
}

std::string CompressionFieldName(uint16_t field) {
    const uint16_t type = field & kCompressionTypeMask;
    const unsigned window = (field >> kWindowShift) & kWindowMask;
    if (field == kTypeNone)
        return "none";
    if (field == kTypeMszip)
        return "MSZIP";
    if (type == kTypeQuantum)
        return "Quantum:" + std::to_string(window);
    if (type == kCompressionLzx)
        return "LZX:" + std::to_string(window);
    return "unknown (" + HexDigits(field, 4) + ")";
}

std::string DescribeFolderCompression(const std::vector<uint16_t>& fields) {
    std::vector<std::pair<uint16_t, size_t>> kinds; // in order of first use
    for (uint16_t f : fields) {
        size_t i = 0;
        while (i < kinds.size() && kinds[i].first != f)
            ++i;
        if (i == kinds.size())
            kinds.push_back({f, 0});
        ++kinds[i].second;
    }
    std::string line = "compression:";
    for (size_t i = 0; i < kinds.size(); ++i) {
        const size_t n = kinds[i].second;
        line += (i ? "; " : " ") + CompressionFieldName(kinds[i].first) + ", " +
                std::to_string(n) + (n == 1 ? " folder" : " folders");
    }
    return kinds.empty() ? line + " no folder" : line;
}

std::string CompressionOptionName(const Compression& c) {
    switch (c.kind) {
    case CompressionKind::None:
        return "none";
    case CompressionKind::Mszip:
        return "mszip";
    case CompressionKind::Lzx:
        break;
    }
    return "lzx:" + std::to_string(c.windowBits);
}
