// Numbers given on the command line or in the environment.
#pragma once

#include <cstdint>

// Parses text as a decimal number of at most max: digits only (no sign, space or exponent),
// at least one. False, *out untouched, otherwise.
bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out);
