// One cabinet folder compressed with LZX by sfxpack's own encoder: a one-folder cabinet laid
// out as libgcab lays out its MSZIP ones (tables, then data blocks), so that the same steps
// place it in an installer or a set.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cab/archived_entry.h"
#include "compress/lzx_encoder.h"
#include "payload/folder_scan.h"
#include "util/problems.h"

struct Progress;

// Writes files [first, end) (at most kMaxFolderBytes in all) as a one-folder LZX cabinet into
// the empty file at path, each file read once and checked unchanged after. Advances progress
// (may be null) by each file's size. False with a line in *problems.
bool WriteLzxFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                    const TimePolicy& policy, const LzxOptions& options, const std::string& path,
                    Progress* progress, Problems* problems);
