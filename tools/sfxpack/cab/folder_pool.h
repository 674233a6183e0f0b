// LZX folders compressed ahead on worker threads, one encoder each, and handed out in their
// order: the cabinets come out the same whatever the number of threads.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cab/archived_entry.h"
#include "compress/lzx_encoder.h"
#include "payload/folder_scan.h"
#include "util/file_io.h"
#include "util/problems.h"

struct FolderPool;
struct FolderPoolStopper {
    void operator()(FolderPool* pool) const; // joins the threads, removes what was not taken
};
using FolderPoolPtr = std::unique_ptr<FolderPool, FolderPoolStopper>;

// The processors this process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// Starts threads threads compressing folders[i] = files [first, end) as one-folder LZX
// cabinets into temporary files beside path, at most a few folders ahead of the one taken.
// Null with a line in *problems when they cannot be started.
FolderPoolPtr StartFolderPool(const std::vector<SourceFile>& files,
                              const std::vector<std::pair<size_t, size_t>>& folders,
                              const TimePolicy& policy, const LzxOptions& options,
                              const std::string& path, unsigned threads, Problems* problems);

// Waits for folder index (taken in order, 0 first) and hands its closed temporary file over
// to *temp. False with its lines in *problems when it failed.
bool TakeFolder(FolderPool* pool, size_t index, TempFile* temp, Problems* problems);
