// CRC-32C (Castagnoli), the digest sfxpack stores for the payload and the stub checks before it
// writes anything. Pure logic: no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC of data[0, size) continued from crc (0 to start): Crc32c(Crc32c(0, a), b) is the CRC
// of a followed by b. Uses the processor's crc32 instruction where it has one (SSE4.2), else
// tables; both give the same value.
uint32_t Crc32c(uint32_t crc, const void* data, size_t size);

// The CRC of a followed by b, from the CRC of each and b's length.
uint32_t Crc32cCombine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

// The table version alone, for tests that compare the two.
uint32_t Crc32cPortable(uint32_t crc, const void* data, size_t size);
