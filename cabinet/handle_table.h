// The fixed table of stream offsets per embedded-cabinet handle.
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
