// The exit codes a deployment tool reads from a run started with switches. Pure logic.
#pragma once

#include <cstdint>

constexpr uint32_t kExitSuccess = 0;
constexpr uint32_t kExitCancelled = 1602;    // ERROR_INSTALL_USEREXIT
constexpr uint32_t kExitBadCommandLine = 87; // ERROR_INVALID_PARAMETER
constexpr uint32_t kExitNoDestination = 3;   // ERROR_PATH_NOT_FOUND
constexpr uint32_t kExitFailure = 1603;      // ERROR_INSTALL_FAILURE
constexpr uint32_t kExitElevationRequired = 740;

// The exit code of a run that failed with the extraction code cabCode (cab_errors.h, the
// library's FDIERROR_ values included): 13 a damaged installer or a wrong later cabinet, 2 a
// missing later cabinet, 112 no room, 123 a name Windows cannot hold, 32 a file in use, 126
// no cabinet library, 1602 a cancel, 1603 anything else.
uint32_t ExitCodeOfFailure(int cabCode);

// The reason of an exit code of ours, in English for the log; null for one that is not ours.
const char* ExitCodeReason(uint32_t code);
