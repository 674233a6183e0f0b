#include "binding.h"

#include <string.h>

#include "stream_callbacks.h"

#ifdef ORVANTA_LIBRARY_SEAM
const char* g_cabinetLibraryOverride = nullptr;
#endif

// Only the system folder's copy: a Cabinet.dll lying beside the installer (a downloads
// folder) must never be the one that runs.
static HMODULE LoadSystemCabinet() {
#ifdef ORVANTA_LIBRARY_SEAM
    if (g_cabinetLibraryOverride)
        return LoadLibraryA(g_cabinetLibraryOverride);
#endif
    static const char kName[] = "\\Cabinet.dll";
    char path[MAX_PATH];
    const UINT n = GetSystemDirectoryA(path, sizeof(path));
    if (n == 0 || n + sizeof(kName) > sizeof(path))
        return nullptr;
    memcpy(path + n, kName, sizeof(kName));
    return LoadLibraryA(path);
}

bool LoadCabinetLibrary(CabExtractor* ex) {
    ex->pendingError = 0;
    if (ex->hfdi)
        return false;
    if (!ex->hCabinetDll) {
        ex->hCabinetDll = LoadSystemCabinet();
        bool complete = true;
#define CAB_BIND(name)                                                                             \
    ex->pfn##name = ex->hCabinetDll ? reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>( \
                                          GetProcAddress(ex->hCabinetDll, #name)))                 \
                                    : nullptr;                                                     \
    complete = complete && ex->pfn##name;
        CAB_ENTRY_POINTS(CAB_BIND)
#undef CAB_BIND
        if (!complete) {
            if (ex->hCabinetDll)
                FreeLibrary(ex->hCabinetDll); // nothing may keep a half library loaded
            ex->hCabinetDll = nullptr;
            RecordFailure(ex, CAB_ERROR_NO_LIBRARY);
            return false;
        }
    }
    ex->hfdi = CreateCabContext(ex->pfnFDICreate, &ex->erf);
    return ex->hfdi != nullptr;
}

int GetCabErrorMessage(CabExtractor* ex, const char** message) {
    if (ex->pendingError != 0)
        ex->erf.erfOper = ex->pendingError;
    if (message)
        *message = CabErrorText(ex->erf.erfOper);
    return ex->erf.fError ? ex->erf.erfOper : 0;
}

const char* FailureText(CabExtractor* ex) {
    const char* message = "Unknown error";
    GetCabErrorMessage(ex, &message);
    return ex->failureText ? ex->failureText : message;
}

CabExtractor::~CabExtractor() {
    ReleaseCabinetLibrary(this);
    ReleaseRun(this);
}

void ReleaseCabinetLibrary(CabExtractor* ex) {
    if (ex->hfdi)
        ex->pfnFDIDestroy(ex->hfdi);
    ex->hfdi = nullptr;
    if (ex->hCabinetDll) {
        FreeLibrary(ex->hCabinetDll);
        ex->hCabinetDll = nullptr; // a second release must not unload it twice
    }
}
