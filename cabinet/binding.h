// Binding the platform cabinet library by name, creating and destroying its context, and the
// English texts of its error codes.
#pragma once

#include "extractor.h"

// The code reported when the library or one of its entry points is missing.
constexpr int CAB_ERROR_NO_LIBRARY = 1000;
// The checks made before the first write: the payload is cut or damaged, a name cannot be
// written, the volume lacks room.
constexpr int CAB_ERROR_INCOMPLETE = 1001;
constexpr int CAB_ERROR_BAD_NAME = 1002;
constexpr int CAB_ERROR_NO_ROOM = 1003;

#ifdef ORVANTA_LIBRARY_SEAM
// Test builds only: a library path to bind instead of the system folder's Cabinet.dll.
extern const char* g_cabinetLibraryOverride;
#endif

// Binds the library if needed and creates the FDI context; true only for a new context.
bool LoadCabinetLibrary(CabExtractor* ex);
// Folds pendingError into erfOper, stores its English text through message when not null,
// and returns erfOper when fError is set, else 0.
int GetCabErrorMessage(CabExtractor* ex, const char** message);
// The English text for one code; "Unknown error" for codes outside the table.
const char* CabErrorText(int code);
// Destroys the context and unloads the library; safe to repeat. The context is forgotten even
// when the library refuses to destroy it: it cannot outlive the code it lives in.
void ReleaseCabinetLibrary(CabExtractor* ex);
