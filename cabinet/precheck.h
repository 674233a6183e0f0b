// The checks made before anything is written: the payload is whole, every archived name is one
// the driver will write, and the destination's volume has room for the files.
#pragma once

#include <cstdint>

#include "extractor.h"

// Checks the embedded cabinet and the later cabinets of its set before a run into destination
// (UTF-8, as NormaliseDestination gives it), in this order: its declared size is present, the
// payload record's digest matches when the installer carries one, every name is one the
// driver writes, and the volume has room. 0 when all hold; else the code, recorded in ex with
// the text that says what happened and what to do (RecordFailure). Writes nothing. Posts
// WM_EXTRACT_CHECKING to ex's window when the digest is still to be waited for.
// *payloadBytes (may be null) gets the sum of the sizes of the files that start in the set.
// A cancel confirmed before or during the checks stops them with FDIERROR_USER_ABORT.
int CheckBeforeExtracting(CabExtractor* ex, const char* destination, uint64_t* payloadBytes);

// The same checks but the digest, on a later cabinet on the disk (ANSI path, as the library
// opens it) before the library reads from it, for the files that start in it, under ex's
// destination. 0, or the code recorded in ex as above.
int CheckContinuation(CabExtractor* ex, const char* path);
