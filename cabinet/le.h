// Little-endian field readers and writers for the PE, cabinet and resource headers; shared by
// the stub and sfxpack.
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

// The 64-bit little-endian value at p (eight readable bytes).
inline uint64_t ReadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | static_cast<uint64_t>(ReadLe32(p + 4)) << 32;
}

// Stores v at p as 16-bit little-endian (two writable bytes).
inline void WriteLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Stores v at p as 32-bit little-endian (four writable bytes).
inline void WriteLe32(uint8_t* p, uint32_t v) {
    WriteLe16(p, static_cast<uint16_t>(v));
    WriteLe16(p + 2, static_cast<uint16_t>(v >> 16));
}

// Stores v at p as 64-bit little-endian (eight writable bytes).
inline void WriteLe64(uint8_t* p, uint64_t v) {
    WriteLe32(p, static_cast<uint32_t>(v));
    WriteLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
