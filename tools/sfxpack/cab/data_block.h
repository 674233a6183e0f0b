// A cabinet data block (CFDATA) around a compressed payload, with the checksum the format
// defines. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The most compressed bytes a data block may carry, as decoders accept them.
constexpr size_t kMaxDataBlockPayload = 32768 + 6144;

// The cabinet checksum of size bytes folded into seed: 32-bit little-endian words XORed,
// a short tail taken most significant byte first.
uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed);

// Appends the block of payload (at most kMaxDataBlockPayload bytes) that decodes to
// uncompressed bytes (at most 32768) to *out: header with checksum, then the payload.
void AppendDataBlock(const uint8_t* payload, size_t size, uint32_t uncompressed,
                     std::vector<uint8_t>* out);
