#include "exit_codes.h"

#include <windows.h>
#include <fdi.h>

#include "cab_errors.h"

uint32_t ExitCodeOfFailure(int cabCode) {
    switch (cabCode) {
    case FDIERROR_NOT_A_CABINET:
    case FDIERROR_UNKNOWN_CABINET_VERSION:
    case FDIERROR_CORRUPT_CABINET:
    case FDIERROR_BAD_COMPR_TYPE:
    case FDIERROR_MDI_FAIL:
    case FDIERROR_RESERVE_MISMATCH:
    case FDIERROR_WRONG_CABINET:
    case CAB_ERROR_INCOMPLETE:
        return ERROR_INVALID_DATA; // 13
    case FDIERROR_CABINET_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND; // 2
    case CAB_ERROR_NO_ROOM:
        return ERROR_DISK_FULL; // 112
    case CAB_ERROR_BAD_NAME:
        return ERROR_INVALID_NAME; // 123
    case CAB_ERROR_IN_USE:
        return ERROR_SHARING_VIOLATION; // 32
    case CAB_ERROR_NO_LIBRARY:
        return ERROR_MOD_NOT_FOUND; // 126
    case FDIERROR_USER_ABORT:
        return kExitCancelled;
    default:
        return kExitFailure;
    }
}

const char* ExitCodeReason(uint32_t code) {
    switch (code) {
    case kExitSuccess:
        return "success";
    case kExitCancelled:
        return "cancelled by the user";
    case kExitBadCommandLine:
        return "bad command line";
    case kExitNoDestination:
        return "the destination cannot be created";
    case ERROR_INVALID_DATA:
        return "damaged or incomplete installer";
    case ERROR_FILE_NOT_FOUND:
        return "a later cabinet of the set is missing";
    case ERROR_DISK_FULL:
        return "not enough room";
    case ERROR_INVALID_NAME:
        return "a name that cannot be written on Windows";
    case ERROR_SHARING_VIOLATION:
        return "a file in use";
    case ERROR_MOD_NOT_FOUND:
        return "the cabinet library cannot be loaded";
    case kExitElevationRequired:
        return "the setup program needs elevation";
    case kExitFailure:
        return "failure";
    }
    return nullptr;
}
