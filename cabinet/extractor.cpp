#include "extractor.h"

#include "binding.h"
#include "driver.h"

CabExtractor::CabExtractor(HWND notify) : hwndNotify(notify) {
    erf.erfOper = 0;
    erf.erfType = 0;
    erf.fError = FALSE;
    nextCabinet[0] = '\0';
}

CabExtractor::~CabExtractor() {
    ReleaseCabinetLibrary(this);
    ReleaseRunPaths(this);
}
