// The image's load configuration. Its one non-zero field, DependentLoadFlags, makes the loader
// (Windows 10 1607 and later) resolve the static imports from the system folder only, before
// any of the program's code runs; older loaders ignore the field.
// GNU ld does not point the load configuration directory at this symbol: the link keeps it with
// --require-defined and cmake/set_load_config.py fills the directory entry after the link.
#include <windows.h>

#include <cstddef>

namespace {

// LoadLibraryEx's LOAD_LIBRARY_SEARCH_SYSTEM32.
constexpr WORD kSearchSystem32 = 0x0800;

// DependentLoadFlags is the word after CSDVersion (the headers may still call it Reserved1).
#ifdef _WIN64
constexpr size_t kDependentLoadFlagsOffset = 0x4e;
constexpr size_t kLoadConfigSize = 0x70; // through SEHandlerCount
#else
constexpr size_t kDependentLoadFlagsOffset = 0x36;
constexpr size_t kLoadConfigSize = 0x48; // through SEHandlerCount
#endif
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, CSDVersion) + sizeof(WORD) ==
                  kDependentLoadFlagsOffset,
              "DependentLoadFlags must follow CSDVersion");
static_assert(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY) == kLoadConfigSize,
              "the loader reads as many fields as Size covers");

} // namespace

// The loader finds the structure through the directory entry and its fields through Size.
// No security cookie (the compiler emits no cookie checks) and no handler table: the 32-bit
// image is marked NO_SEH instead. The 16th member is DependentLoadFlags in both layouts.
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = {
    kLoadConfigSize, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kSearchSystem32, 0, 0, 0, 0,
};
