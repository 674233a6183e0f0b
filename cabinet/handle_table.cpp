#include "handle_table.h"

const char kCMapGetError[] = "Invalid position in CMap::Get()";
const char kCMapSetError[] = "Overflow in CMap::Set()";

int CMap::Find(intptr_t handle) const {
    for (int i = 0; i < count; ++i) {
        if (entries[i].handle == handle)
            return i;
    }
    return -1;
}

int32_t CMap::Get(int index) const {
    if (index < 0 || index >= count)
        throw kCMapGetError;
    return entries[index].value;
}

void CMap::Set(intptr_t handle, int32_t value) {
    int i = Find(handle);
    if (i >= 0) {
        entries[i].value = value;
        return;
    }
    if (count >= kCapacity)
        throw kCMapSetError;
    entries[count].handle = handle;
    entries[count].value = value;
    ++count;
}

void CMap::RemoveAt(int index) {
    if (index < 0 || index >= count)
        return;
    for (int i = index; i + 1 < count; ++i)
        entries[i] = entries[i + 1];
    --count;
}
