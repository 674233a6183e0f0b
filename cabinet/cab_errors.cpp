#include "cab_errors.h"

#include <stdlib.h>
#include <string.h>

// The concatenation of count texts, in a heap block; null when no memory is left.
static char* Join(const char* const* parts, size_t count) {
    size_t size = 1;
    for (size_t i = 0; i < count; ++i)
        size += strlen(parts[i]);
    char* text = static_cast<char*>(malloc(size));
    if (!text)
        return nullptr;
    text[0] = '\0';
    for (size_t i = 0; i < count; ++i)
        strcat(text, parts[i]);
    return text;
}

const char* CabErrorText(int code) {
    static const char* const kTexts[] = {
        "No error",
        "Cabinet file (or part of splitted CAB) not found",
        "Not a cabinet",
        "Unknown cabinet version",
        "Corrupt cabinet",
        "Memory allocation failed",
        "Unknown compression type",
        "Failure decompressing data",
        "Failure writing to target file",
        "Cabinets in set have different RESERVE sizes",
        "Cabinet returned on fdintNEXT_CABINET is incorrect",
        "User aborted",
    };
    if (code >= 0 && code < static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0])))
        return kTexts[code];
    switch (code) {
    case CAB_ERROR_NO_LIBRARY:
        return "Could not load Cabinet.dll";
    case CAB_ERROR_INCOMPLETE:
        return "Programme d'installation incomplet ou endommagé : téléchargez-le à nouveau.";
    case CAB_ERROR_BAD_NAME:
        return "Nom de fichier impossible à écrire sous Windows";
    case CAB_ERROR_NO_ROOM:
        return "Espace disque insuffisant";
    case CAB_ERROR_IN_USE:
        return "Fichier utilisé par un autre programme";
    }
    return "Unknown error";
}

int ReadOutcomeCode(ReadOutcome outcome) {
    switch (outcome) {
    case kReadOk:
        return 0;
    case kReadNoMemory:
        return FDIERROR_ALLOC_FAIL;
    case kReadCut:
        return CAB_ERROR_INCOMPLETE;
    case kReadMissing:
        return FDIERROR_CABINET_NOT_FOUND;
    case kReadNotCabinet:
        return FDIERROR_NOT_A_CABINET;
    }
    return CAB_ERROR_INCOMPLETE;
}

char* ComposeFailureText(int code, const char* detail, const char* tail) {
    // The checks' own texts are French, which sets a colon off with a space.
    const char* colon = code >= CAB_ERROR_INCOMPLETE ? " : " : ": ";
    const char* parts[] = {CabErrorText(code), detail ? colon : "", detail ? detail : "",
                           tail ? tail : ""};
    return Join(parts, sizeof(parts) / sizeof(parts[0]));
}

char* InUseText(const char* file) {
    const char* parts[] = {"Le fichier « ", file,
                           " » est utilisé par un autre programme. Fermez "
                           "ce programme, puis cliquez sur Réessayer."};
    return Join(parts, sizeof(parts) / sizeof(parts[0]));
}

char* IncompleteText(const char* part) {
    if (!part)
        return ComposeFailureText(CAB_ERROR_INCOMPLETE, nullptr);
    const char* parts[] = {"Programme d'installation incomplet ou endommagé (", part,
                           ") : téléchargez-le à nouveau."};
    return Join(parts, sizeof(parts) / sizeof(parts[0]));
}
