/* A stand-in cabinet library: the entry points exist (unless one is left out on purpose),
   and creating a context always fails with a recognisable code. With KEEPS_CONTEXT, creating
   one succeeds and destroying it always fails instead. */
#include <windows.h>
#include <fdi.h>

#define SENTINEL_ERROR 7
static int SentinelContext;

#ifndef OMIT_FDICreate
__declspec(dllexport) HFDI __cdecl FDICreate(PFNALLOC a, PFNFREE f, PFNOPEN o, PFNREAD r,
                                             PFNWRITE w, PFNCLOSE c, PFNSEEK s, int cpu, PERF erf) {
    (void)a; (void)f; (void)o; (void)r; (void)w; (void)c; (void)s; (void)cpu;
#ifdef KEEPS_CONTEXT
    (void)erf;
    return (HFDI)&SentinelContext;
#endif
    erf->erfOper = SENTINEL_ERROR;
    erf->fError = TRUE;
    return NULL;
}
#endif
#ifndef OMIT_FDICopy
__declspec(dllexport) BOOL __cdecl FDICopy(HFDI h, char* n, char* p, int fl, PFNFDINOTIFY cb,
                                           PFNFDIDECRYPT d, void* pv) {
    (void)h; (void)n; (void)p; (void)fl; (void)cb; (void)d; (void)pv;
    return FALSE;
}
#endif
#ifndef OMIT_FDIIsCabinet
__declspec(dllexport) BOOL __cdecl FDIIsCabinet(HFDI h, INT_PTR hf, PFDICABINETINFO i) {
    (void)h; (void)hf; (void)i;
    return FALSE;
}
#endif
#ifndef OMIT_FDIDestroy
__declspec(dllexport) BOOL __cdecl FDIDestroy(HFDI h) {
    (void)h;
#ifdef KEEPS_CONTEXT
    return FALSE;
#endif
    return TRUE;
}
#endif
