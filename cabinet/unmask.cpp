#include "unmask.h"

void UnmaskChunk(unsigned char* buf, uint32_t n, const unsigned char* key, int32_t keyLength,
                 int32_t startOffset) {
    static const unsigned char kMarker[4] = {'M', 'S', 'C', 'F'};
    if (startOffset == 0) {
        // The marker is four bytes; a shorter chunk gets only what fits.
        for (uint32_t i = 0; i < 4 && i < n; ++i)
            buf[i] = kMarker[i];
    }
    const uint32_t L = static_cast<uint32_t>(keyLength);
    const int32_t k0 = static_cast<signed char>(key[0]);
    uint32_t k = static_cast<uint32_t>(startOffset) % L;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t o = static_cast<uint32_t>(startOffset) + i;
        if (o >= 60) {
            unsigned char b = static_cast<unsigned char>(buf[i] - key[k]);
            const uint32_t t = (static_cast<uint32_t>(k0) + o) % 101u;
            buf[i] = static_cast<unsigned char>(b ^ t);
        }
        k = (k + 1) % L;
    }
}
