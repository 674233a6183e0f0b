// The keyed unmasking of the embedded stream's bytes. Pure logic: no platform calls.
#pragma once

#include <cstdint>

// Unmasks n bytes of buf in place; startOffset is the stream offset of buf[0].
// Called only with keyLength > 0 and startOffset >= 0. A chunk at offset 0 gets the
// "MSCF" marker over its first bytes (never more than n of them).
void UnmaskChunk(unsigned char* buf, uint32_t n, const unsigned char* key, int32_t keyLength,
                 int32_t startOffset);
