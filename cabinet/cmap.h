// The fixed table of stream offsets per embedded-cabinet handle, and the keyed unmasking.
// Pure logic: no platform calls, no allocation.
#pragma once

#include <cstdint>

class CMap {
  public:
    static constexpr int kCapacity = 100;

    struct Entry {
        intptr_t handle;
        int32_t value; // stream offset; -1 when unknown after a failed seek
    };

    // Index of the pair holding handle, searching from pair 0; -1 if none.
    int Find(intptr_t handle) const;
    // Value of pair index; throws "Invalid position in CMap::Get()" outside 0..count-1.
    int32_t Get(int index) const;
    // Overwrites handle's pair, else appends one; throws "Overflow in CMap::Set()" when full
    // (the table is then unchanged).
    void Set(intptr_t handle, int32_t value);
    // Removes pair index, keeping the order of the later pairs. Out-of-range indexes are ignored.
    void RemoveAt(int index);
    void Clear() { count = 0; }

    int32_t count = 0;
    Entry entries[kCapacity] = {};
};

extern const char kCMapGetError[];
extern const char kCMapSetError[];

// Unmasks n bytes of buf in place; startOffset is the stream offset of buf[0].
// Called only with keyLength > 0 and startOffset >= 0. A chunk at offset 0 gets the
// "MSCF" marker over its first bytes (never more than n of them).
void UnmaskChunk(unsigned char* buf, uint32_t n, const unsigned char* key, int32_t keyLength,
                 int32_t startOffset);
