// Bounded reads from files or memory, and outputs that appear only when complete.
#pragma once

#include <cstdint>
#include <string>

#include "util/problems.h"

struct Progress;

// A window of bytes: [base, base + size) of an open file, or of memory when memory is set.
struct Source {
    int fd = -1;
    const uint8_t* memory = nullptr;
    uint64_t base = 0;
    uint64_t size = 0;
};

// A source over n bytes of memory.
Source MemorySource(const void* data, uint64_t n);

// A sub-window of s starting at offset, at most length bytes, clipped to s.
Source SubSource(const Source& s, uint64_t offset, uint64_t length);

// Reads n bytes at offset inside s. False, with buf unspecified, when the range does not lie
// wholly inside s or the read fails.
bool ReadAt(const Source& s, uint64_t offset, void* buf, size_t n);

// Opens path read-only as a whole-file source, without blocking on a FIFO or device. False
// with a line in *problems, also when path is not a regular file.
bool OpenSource(const std::string& path, Source* out, Problems* problems);

// Closes the file behind s, if any.
void CloseSource(Source* s);

// A file being written beside its final name; removed on failure and on SIGINT, SIGTERM,
// SIGHUP and SIGPIPE.
struct TempFile {
    std::string path;
    int fd = -1; // -1 once closed
};

// Creates an empty, private temporary file in the folder of target. False with a line in *problems.
bool CreateTempBeside(const std::string& target, const char* suffix, TempFile* out,
                      Problems* problems);

// Appends n bytes of from, starting at offset, to the end of to. Advances progress (may be
// null) by the bytes copied. False with a line in *problems on a short read or a failed write.
bool CopyRange(const Source& from, uint64_t offset, uint64_t n, int to, Progress* progress,
               Problems* problems);

// Closes t's descriptor, keeping the file pending (committed or discarded later). False when
// the close fails.
bool CloseTemp(TempFile* t);

// Flushes t to disk, gives it the usual permissions of a new file (0666 less the umask) and
// renames it to target; t may be closed already. On failure t is removed, with a line in *problems.
bool CommitTemp(TempFile* t, const std::string& target, Problems* problems);

// Flushes t, gives it the usual permissions and renames it to target, where it stays pending:
// removed by DiscardTemp or a signal until KeepTemp. On failure t is removed, with a line in
// *problems.
bool MoveTemp(TempFile* t, const std::string& target, Problems* problems);

// Keeps t where it is: no longer removed on failure or signal.
void KeepTemp(TempFile* t);

// Closes and removes t; harmless on an already committed or discarded file.
void DiscardTemp(TempFile* t);

// Installs the signal handlers that remove the pending temporary files, and ignores SIGXFSZ
// so that a write over the file-size limit fails with "File too large" instead.
void InstallCleanupHandlers();
