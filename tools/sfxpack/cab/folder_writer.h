// One cabinet folder at a time: a run of files compressed alone into a one-folder cabinet,
// through libgcab (MSZIP or none: each file read through the pinned descriptor) or through
// sfxpack's LZX encoder; each file checked unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cab/archived_entry.h"
#include "cab/cab_reader.h"
#include "cab/cab_set.h"
#include "cab/pinned_file.h"
#include "compress/compression.h"
#include "payload/folder_scan.h"
#include "util/file_io.h"
#include "util/problems.h"

struct Progress;
typedef struct _GCancellable GCancellable;

// The state of one run of folder writes, shared with libgcab's callback.
struct WriteContext {
    const std::vector<SourceFile>* files;
    Pinned pinned;
    GCancellable* cancel = nullptr;
    size_t next = 0;  // index of the file libgcab starts next
    int reading = -1; // our descriptor of the file libgcab reads, for the check after
    size_t readingIndex = 0;
    Problems problems; // why the write was cancelled
    Progress* progress = nullptr;
    uint64_t pending = 0; // size of the file being written, counted once the next one starts
    Compression compression;
};

// Starts a run over files in compression, advancing progress (may be null). False with a
// line in *problems.
bool StartWriting(const std::vector<SourceFile>* files, const Compression& compression,
                  Progress* progress, WriteContext* ctx, Problems* problems);

// Ends the run started by StartWriting.
void StopWriting(WriteContext* ctx);

// Writes files [first, end) as a one-folder cabinet into the empty file at path. False with a
// line in *problems.
bool WriteFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                 const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                 Problems* problems);

// A folder compressed alone by libgcab, waiting for the cabinet it goes to.
struct PackedFolder {
    TempFile temp;    // libgcab's one-folder cabinet, closed
    CabFolder folder; // its entry there
    std::vector<CabFile> files;
    FolderCost cost; // dataBytes: its data blocks, from folder.dataOffset on
};

// Reads back the tables of the one-folder cabinet of files [first, end) written to out->temp,
// into *out. False with a line in *problems; out->temp is then discarded.
bool ReadBackFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                    PackedFolder* out, Problems* problems);

// Compresses files [first, end) as a one-folder cabinet into a temporary file beside path and
// reads its tables back into *out. False with a line in *problems; out->temp is then
// discarded.
bool PackFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                PackedFolder* out, Problems* problems);
