// The one way from an archived name to the file it becomes, for the checks made before the
// first write and for the driver alike: what the check accepts is what is written.
#pragma once

#include <cstdint>

#include "names.h"

// Where the file stored as stored (attribs' UTF-8 bit says its encoding; otherwise the ANSI
// code page) goes under destination, which ends in '\' or is empty (NormaliseDestination).
// 0 with *out set (FreeOutputPath); CAB_ERROR_BAD_NAME when the name cannot be written there,
// with *shown (when shown is not null) the name as it can be shown, a heap block or null when
// no memory is left; FDIERROR_ALLOC_FAIL. *out holds nothing to free unless 0 is returned.
int ResolveArchivedName(const char* destination, const char* stored, uint16_t attribs,
                        OutputPath* out, char** shown);

// The text a refused name fails a run with (UTF-8, heap; null when no memory is left).
char* RefusedNameText(const char* shown);
