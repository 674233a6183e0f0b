#include "cab/lzx_folder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cab/cab_set.h"
#include "cab/cab_tables.h"
#include "cab/data_block.h"
#include "cab/pinned_file.h"
#include "util/progress.h"

constexpr size_t kReadChunk = 1 << 20;
constexpr size_t kWriteChunk = 1 << 20; // data blocks gathered before a write

namespace {
// The output side: the data blocks so far, written out in chunks.
struct BlockSink {
    int fd = -1;
    std::vector<uint8_t> pending;
    uint64_t written = 0; // bytes of data blocks already in the file
    size_t blocks = 0;
};
} // namespace

// Writes what sink holds. False with a line in *problems.
static bool FlushSink(BlockSink* sink, const std::string& path, Problems* problems) {
    size_t done = 0;
    while (done < sink->pending.size()) {
        const ssize_t n = write(sink->fd, sink->pending.data() + done, sink->pending.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(problems, path + ": " + strerror(n < 0 ? errno : ENOSPC));
        done += static_cast<size_t>(n);
    }
    sink->written += sink->pending.size();
    sink->pending.clear();
    return true;
}

// Moves the encoder's ready frames into sink as data blocks.
static bool DrainFrames(LzxEncoder* e, BlockSink* sink, const std::string& path,
                        Problems* problems) {
    LzxFrame frame;
    while (LzxTakeFrame(e, &frame)) {
        AppendDataBlock(frame.data.data(), frame.data.size(), frame.uncompressed,
                        &sink->pending);
        ++sink->blocks;
    }
    return sink->pending.size() < kWriteChunk || FlushSink(sink, path, problems);
}

// Feeds f's bytes to the encoder, checking it is the file scanned and stays so.
static bool CompressFile(const SourceFile& f, LzxEncoder* e, BlockSink* sink,
                         const std::string& path, std::vector<uint8_t>* chunk,
                         Problems* problems) {
    int fd = -1;
    if (!OpenUnchanged(f, &fd, problems))
        return false;
    uint64_t left = f.size;
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = read(fd, chunk->data(), left < chunk->size() ? left : chunk->size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = Fail(problems, f.path + ": changed while packing");
            break;
        }
        LzxWrite(e, chunk->data(), static_cast<size_t>(n));
        left -= static_cast<uint64_t>(n);
        ok = DrainFrames(e, sink, path, problems);
    }
    if (ok && !StillUnchanged(f, fd))
        ok = Fail(problems, f.path + ": changed while packing");
    close(fd);
    return ok;
}

bool WriteLzxFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                    const TimePolicy& policy, const LzxOptions& options, const std::string& path,
                    Progress* progress, Problems* problems) {
    LzxEncoderPtr e = LzxCreate(options);
    if (!e)
        return Fail(problems, "not enough memory for the LZX encoder");
    CabFolder folder;
    folder.compression = static_cast<uint16_t>(kCompressionLzx | options.windowBits << 8);
    std::vector<CabFile> entries;
    uint64_t entryBytes = 0, offset = 0;
    for (size_t i = first; i < end; ++i) {
        const SourceFile& f = files[i];
        CabFile c;
        c.name = f.name;
        c.size = static_cast<uint32_t>(f.size); // a folder holds under 2 GiB
        c.folderOffset = static_cast<uint32_t>(offset);
        const DosDateTime when = ArchivedTime(f.mtime, policy);
        c.date = when.date;
        c.time = when.time;
        c.attributes = ArchivedAttributes(f);
        offset += f.size;
        entryBytes += FileEntryBytes(f.name);
        entries.push_back(c);
    }
    const uint64_t tables = CabinetTablesSize("", "", 1, entryBytes);
    BlockSink sink;
    sink.fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (sink.fd < 0)
        return Fail(problems, path + ": " + strerror(errno));
    bool ok = lseek(sink.fd, static_cast<off_t>(tables), SEEK_SET) >= 0 ||
              Fail(problems, path + ": " + strerror(errno));
    std::vector<uint8_t> chunk(kReadChunk);
    for (size_t i = first; ok && i < end; ++i) {
        ok = CompressFile(files[i], e.get(), &sink, path, &chunk, problems);
        if (ok)
            AdvanceProgress(progress, files[i].size);
    }
    if (ok) {
        LzxFinish(e.get());
        ok = DrainFrames(e.get(), &sink, path, problems) && FlushSink(&sink, path, problems);
    }
    if (ok) {
        folder.dataOffset = static_cast<uint32_t>(tables);
        folder.dataBlocks = static_cast<uint16_t>(sink.blocks);
        const std::vector<uint8_t> head =
            EncodeTables(SetPlace(), {folder}, entries, tables + sink.written);
        ok = pwrite(sink.fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) ||
             Fail(problems, path + ": " + strerror(errno));
    }
    if (close(sink.fd) != 0 && ok)
        ok = Fail(problems, path + ": " + strerror(errno));
    return ok;
}
