// Binding the platform cabinet library by name, creating and destroying its context, and
// reporting a run's failure.
#pragma once

#include "cab_errors.h"
#include "extractor.h"

#ifdef ORVANTA_LIBRARY_SEAM
// Test builds only: a library path to bind instead of the system folder's Cabinet.dll.
extern const char* g_cabinetLibraryOverride;
#endif

// Binds the library if needed and creates the FDI context; true only for a new context.
bool LoadCabinetLibrary(CabExtractor* ex);
// Folds pendingError into erfOper, stores its English text through message when not null,
// and returns erfOper when fError is set, else 0.
int GetCabErrorMessage(CabExtractor* ex, const char** message);
// What to tell the user of a failed run (UTF-8): the text recorded with the failure, else the
// English text of the code GetCabErrorMessage reports.
const char* FailureText(CabExtractor* ex);
// Destroys the context and unloads the library; safe to repeat. The context is forgotten even
// when the library refuses to destroy it: it cannot outlive the code it lives in.
void ReleaseCabinetLibrary(CabExtractor* ex);
