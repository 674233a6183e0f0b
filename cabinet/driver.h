// The extraction driver: runs the library over the embedded cabinet and the continuations it
// names, answers its notifications, writes and stamps the files, and reports each one offered.
#pragma once

#include <windows.h>
#include <fdi.h>
#include <atomic>
#include <cstdint>

#include "cab_messages.h"
#include "extractor.h"

// What CabNotify posts for each file offered: one heap block, released by the receiver
// with FreeProgressInfo (or by the sender when the post fails).
struct ProgressInfo {
    const char* fileName;
    const char* archiveDir;
    const char* outputDir;
    const char* outputPath;
    int32_t fileSize;
    FILETIME fileTime; // archived DOS date and time as local time
    uint16_t attributes;
};
void FreeProgressInfo(ProgressInfo* info);

constexpr uint16_t kDosAttributeMask = 0x27;
// The flags and mode every output file is opened with.
constexpr int kOutputOpenFlags = 0x8321; // _O_BINARY|_O_CREAT|_O_TRUNC|_O_SEQUENTIAL|_O_WRONLY
constexpr int kOutputOpenMode = 0x180;   // _S_IREAD|_S_IWRITE

// One copy by the library over a cabinet (name: the bare name it is opened under), with
// whatever the callbacks recorded: false when it failed, with the run stopped, the failure
// claimed, and the file being written removed.
bool CopyCabinet(CabExtractor* ex, char* name);

// Extracts the embedded cabinet and every continuation it names under destination (UTF-8 as
// NormaliseDestination gives it, which the caller keeps until the call returns; null or empty:
// the current folder). False with the cause in the extractor when a copy fails.
bool ExtractAll(CabExtractor* ex, const char* destination);
INT_PTR DIAMONDAPI CabNotify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin);
// Stamps an output file (UTF-8 path) with the archived time (local) and masked attributes.
void ApplyFileTimeAndAttributes(const char* path, USHORT date, USHORT time, USHORT attribs);
