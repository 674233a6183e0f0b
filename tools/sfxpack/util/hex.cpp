#include "util/hex.h"

#include <cstdio>

std::string Hex(uint64_t v) {
    char text[24];
    snprintf(text, sizeof(text), "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

std::string HexDigits(uint64_t v, int digits) {
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llx", digits < 16 ? digits : 16,
             static_cast<unsigned long long>(v));
    return text;
}

std::string HexByte(uint8_t b) {
    char text[4];
    snprintf(text, sizeof(text), "%02x", b);
    return text;
}
