#include "compress/lzx_format.h"

unsigned LzxSlotCount(unsigned windowBits) {
    // 2^15 to 2^19 gain two slots a bit; 2^20 has 42 and 2^21 50, the footers stopping at 17.
    if (windowBits == 21)
        return 50;
    if (windowBits == 20)
        return 42;
    return windowBits * 2;
}

unsigned LzxSlotExtraBits(unsigned s) {
    if (s < 4)
        return 0;
    const unsigned bits = s / 2 - 1;
    return bits < 17 ? bits : 17;
}

uint32_t LzxSlotBase(unsigned s) {
    uint32_t base = 0;
    for (unsigned i = 0; i < s; ++i)
        base += uint32_t(1) << LzxSlotExtraBits(i);
    return base;
}

unsigned LzxSlotOf(uint32_t formatted) {
    if (formatted < 4)
        return formatted;
    if (formatted >= (uint32_t(1) << 18))
        return 36 + ((formatted - (uint32_t(1) << 18)) >> 17);
    unsigned bits = 0;
    while ((formatted >> bits) > 1)
        ++bits;
    // formatted has bits + 1 significant bits: two slots per bit length, told by the next bit.
    return 2 * bits + ((formatted >> (bits - 1)) & 1);
}
