#include "cab/folder_writer.h"

#include <fcntl.h>
#include <libgcab.h>
#include <unistd.h>

#include "cab/lzx_folder.h"
#include "util/progress.h"

// libgcab reads the date from the fields of the GDateTime as given, whatever its zone.
static GDateTime* DateTimeFromDos(DosDateTime d) {
    return g_date_time_new_utc(1980 + (d.date >> 9), (d.date >> 5) & 15, d.date & 31, d.time >> 11,
                               (d.time >> 5) & 63, (d.time & 31) * 2);
}

// Adds f to folder, read through the pinned path, with its archived time and attributes.
// Adding resets both, so they are set afterwards.
static bool AddToFolder(GCabFolder* folder, const SourceFile& f, const TimePolicy& policy,
                        const Pinned& pinned, Problems* problems) {
    int fd = -1;
    if (!OpenUnchanged(f, &fd, problems) || !Pin(pinned, fd, problems))
        return false;
    GFile* source = g_file_new_for_path(pinned.path.c_str());
    GCabFile* file = gcab_file_new_with_file(f.name.c_str(), source);
    g_object_unref(source);
    GError* gerror = nullptr;
    const bool added = gcab_folder_add_file(folder, file, FALSE, nullptr, &gerror);
    if (added) {
        GDateTime* when = DateTimeFromDos(ArchivedTime(f.mtime, policy));
        gcab_file_set_date_time(file, when);
        g_date_time_unref(when);
        gcab_file_set_attributes(file, ArchivedAttributes(f));
    } else {
        Fail(problems, f.path + ": " + gerror->message);
        g_error_free(gerror);
    }
    g_object_unref(file);
    Pin(pinned, -1, problems);
    return added;
}

// Checks that the file libgcab has just read did not change meanwhile, and lets it go.
static bool FinishFile(WriteContext* ctx) {
    if (ctx->reading < 0)
        return true;
    const SourceFile& f = (*ctx->files)[ctx->readingIndex];
    const bool same = StillUnchanged(f, ctx->reading);
    close(ctx->reading);
    ctx->reading = -1;
    if (!same)
        Fail(&ctx->problems, f.path + ": changed while packing");
    return same;
}

// libgcab calls this as it starts each file, in the order they were added, just before it
// opens the file. A file that changed cancels the write.
static gboolean OnFileStart(GCabFile* file, gpointer data) {
    WriteContext* ctx = static_cast<WriteContext*>(data);
    AdvanceProgress(ctx->progress, ctx->pending);
    ctx->pending = gcab_file_get_size(file);
    const size_t index = ctx->next++;
    bool ok = FinishFile(ctx);
    if (ok &&
        (index >= ctx->files->size() || (*ctx->files)[index].name != gcab_file_get_name(file))) {
        Fail(&ctx->problems,
             std::string("libgcab wrote files out of order at ") + gcab_file_get_name(file));
        ok = false;
    }
    int fd = -1;
    if (ok && OpenUnchanged((*ctx->files)[index], &fd, &ctx->problems)) {
        ctx->reading = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        ctx->readingIndex = index;
        ok = Pin(ctx->pinned, fd, &ctx->problems) && ctx->reading >= 0;
    } else {
        ok = false;
    }
    if (!ok) {
        Pin(ctx->pinned, -1, &ctx->problems);
        g_cancellable_cancel(ctx->cancel);
    }
    return ok;
}

// Writes cabinet into the existing file at path (seekable: libgcab rewrites the header).
static bool WriteToPath(GCabCabinet* cabinet, const std::string& path, WriteContext* ctx,
                        Problems* problems) {
    GError* gerror = nullptr;
    GFile* target = g_file_new_for_path(path.c_str());
    GFileIOStream* io = g_file_open_readwrite(target, nullptr, &gerror);
    g_object_unref(target);
    bool ok = io != nullptr;
    if (ok) {
        ok = gcab_cabinet_write(cabinet, g_io_stream_get_output_stream(G_IO_STREAM(io)),
                                OnFileStart, nullptr, ctx, ctx->cancel, &gerror);
        // A refused file fails the write even if libgcab went on past the cancellation.
        ok = ok && ctx->problems.errors.empty() && FinishFile(ctx);
        GError* closeError = nullptr;
        if (!g_io_stream_close(G_IO_STREAM(io), nullptr, ok ? &gerror : &closeError))
            ok = false;
        if (closeError)
            g_error_free(closeError);
        g_object_unref(io);
    }
    if (ctx->reading >= 0)
        close(ctx->reading);
    ctx->reading = -1;
    if (!ok && !ctx->problems.errors.empty())
        AppendProblems(problems, ctx->problems);
    else if (!ok)
        Fail(problems, std::string("cannot write the cabinet: ") +
                           (gerror ? gerror->message : "unknown error"));
    if (gerror)
        g_error_free(gerror);
    return ok;
}

// Writes files [first, end) as a one-folder cabinet into the empty file at path.
bool WriteFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                 const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                 Problems* problems) {
    if (ctx->compression.kind == CompressionKind::Lzx) {
        LzxOptions options;
        options.windowBits = ctx->compression.windowBits;
        options.level = ctx->compression.level;
        return WriteLzxFolder(files, first, end, policy, options, path, ctx->progress, problems);
    }
    GCabFolder* folder = gcab_folder_new(ctx->compression.kind == CompressionKind::None
                                             ? GCAB_COMPRESSION_NONE
                                             : GCAB_COMPRESSION_MSZIP);
    bool ok = true;
    for (size_t i = first; ok && i < end; ++i)
        ok = AddToFolder(folder, files[i], policy, ctx->pinned, problems);
    GCabCabinet* cabinet = gcab_cabinet_new();
    GError* gerror = nullptr;
    if (ok && !gcab_cabinet_add_folder(cabinet, folder, &gerror)) {
        Fail(problems, std::string("cannot build the cabinet: ") + gerror->message);
        g_error_free(gerror);
        ok = false;
    }
    ctx->next = first;
    ok = ok && WriteToPath(cabinet, path, ctx, problems);
    if (ok)
        AdvanceProgress(ctx->progress, ctx->pending);
    ctx->pending = 0;
    g_object_unref(cabinet);
    g_object_unref(folder);
    return ok;
}

bool ReadBackFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                    PackedFolder* out, Problems* problems) {
    Source src;
    if (!OpenSource(out->temp.path, &src, problems)) {
        DiscardTemp(&out->temp);
        return false;
    }
    CabInfo info;
    Problems readBack; // any problem is the writer's
    bool ok = ReadCabinet(src, &info, &readBack) && readBack.errors.empty() &&
              info.folders.size() == 1 && info.files.size() == end - first &&
              info.cabinetSize == src.size;
    for (size_t i = 0; ok && i < info.files.size(); ++i)
        ok = info.files[i].name == files[first + i].name;
    CloseSource(&src);
    if (!ok) {
        Fail(problems, "unexpected cabinet written for the folder starting at " + files[first].path);
        DiscardTemp(&out->temp);
        return false;
    }
    out->folder = info.folders[0];
    out->files = info.files;
    out->cost.dataBytes = info.cabinetSize - out->folder.dataOffset;
    out->cost.entryBytes = 0;
    for (const CabFile& f : info.files)
        out->cost.entryBytes += FileEntryBytes(f.name);
    return true;
}

// Compresses files [first, end) as a one-folder cabinet into a temporary file beside path and
// reads its tables back into *out. False with a line in *problems; out->temp is then discarded.
bool PackFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                PackedFolder* out, Problems* problems) {
    if (!CreateTempBeside(path, ".part", &out->temp, problems))
        return false;
    if (!CloseTemp(&out->temp) ||
        !WriteFolder(files, first, end, policy, out->temp.path, ctx, problems)) {
        DiscardTemp(&out->temp);
        return false;
    }
    return ReadBackFolder(files, first, end, out, problems);
}

bool StartWriting(const std::vector<SourceFile>* files, const Compression& compression,
                  Progress* progress, WriteContext* ctx, Problems* problems) {
    ctx->compression = compression;
    if (!OpenPinned(&ctx->pinned, problems))
        return false;
    ctx->files = files;
    ctx->cancel = g_cancellable_new();
    ctx->progress = progress;
    return true;
}

void StopWriting(WriteContext* ctx) {
    g_object_unref(ctx->cancel);
    ctx->cancel = nullptr;
    ClosePinned(&ctx->pinned);
}
