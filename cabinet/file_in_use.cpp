#include "file_in_use.h"

#include "owned.h"
#include "wide_path.h"

bool IsInUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool IsFileInUse(const char* path) {
    const OwnedBlock<wchar_t> wide(WidePath(path));
    if (!wide)
        return false; // the open itself will tell
    OwnedHandle file(CreateFileW(wide.get(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    return !file.valid() && IsInUseError(GetLastError());
}
