// Little-endian field readers for the PE and cabinet headers.
#pragma once

#include <cstdint>

// The 16-bit little-endian value at p (two readable bytes).
inline uint16_t ReadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The 32-bit little-endian value at p (four readable bytes).
inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
