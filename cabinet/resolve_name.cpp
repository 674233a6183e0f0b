#include "resolve_name.h"

#include <windows.h>
#include <stdlib.h>

#include "cab_errors.h"
#include "wide_path.h"

int ResolveArchivedName(const char* destination, const char* stored, uint16_t attribs,
                        OutputPath* out, char** shown) {
    *out = {};
    if (shown)
        *shown = nullptr;
    const bool utf8 = (attribs & kAttrNameIsUtf8) != 0;
    char* name = nullptr;
    const DecodeResult decoded = DecodeArchivedName(stored, utf8, CP_ACP, &name);
    ComposeResult composed = kUnsafeName;
    if (decoded == kDecoded)
        composed = ComposeOutputPath(destination, name, out);
    free(name);
    if (decoded == kDecodeNoMemory || composed == kNoMemory)
        return FDIERROR_ALLOC_FAIL;
    if (composed == kComposed)
        return 0;
    if (shown)
        *shown = DisplayArchivedName(stored, utf8, CP_ACP);
    return CAB_ERROR_BAD_NAME;
}

char* RefusedNameText(const char* shown) {
    return ComposeFailureText(CAB_ERROR_BAD_NAME, !shown ? "?" : shown[0] ? shown : "(nom vide)");
}
