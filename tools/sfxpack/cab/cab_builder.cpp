#include "cab/cab_builder.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <libgcab.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cab/cab_reader.h"
#include "crc32c.h"
#include "util/file_io.h"
#include "le.h"
#include "payload/payload_digest.h"
#include "util/progress.h"

// DOS fields from broken-down time, clamped to the years DOS dates can hold.
static DosDateTime FromBrokenDown(const struct tm& tm) {
    DosDateTime d;
    const int year = tm.tm_year + 1900;
    if (year < 1980) {
        d.date = 1 << 5 | 1;
        return d;
    }
    if (year > 2107) {
        d.date = static_cast<uint16_t>(127 << 9 | 12 << 5 | 31);
        d.time = static_cast<uint16_t>(23 << 11 | 59 << 5 | 29);
        return d;
    }
    d.date = static_cast<uint16_t>((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    d.time = static_cast<uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return d;
}

DosDateTime ToDosDateTime(int64_t t, bool utc) {
    // Far outside the DOS range the breakdown may fail; clamp by direction instead.
    constexpr int64_t kFar = int64_t(200) * 366 * 86400;
    struct tm tm = {};
    if (t < -kFar)
        tm.tm_year = 0;
    else if (t > int64_t(4102444800) + kFar) // 2100 + 200 years
        tm.tm_year = 400;
    else {
        const time_t tt = static_cast<time_t>(t);
        if (!(utc ? gmtime_r(&tt, &tm) : localtime_r(&tt, &tm)))
            tm.tm_year = t < 0 ? 0 : 400;
    }
    return FromBrokenDown(tm);
}

DosDateTime ArchivedTime(int64_t mtime, const TimePolicy& policy) {
    if (policy.hasEpoch)
        return ToDosDateTime(mtime < policy.epoch ? mtime : policy.epoch, true);
    return ToDosDateTime(mtime, false);
}

uint16_t ArchivedAttributes(const SourceFile& f) {
    uint16_t attributes = kAttrArchive;
    if (f.readOnly)
        attributes |= kAttrReadOnly;
    for (char c : f.name) {
        if (static_cast<uint8_t>(c) >= 0x80)
            attributes |= kAttrNameIsUtf8;
    }
    return attributes;
}

bool CheckCabinetCapacity(const std::vector<SourceFile>& files, Problems* problems) {
    const size_t before = problems->errors.size();
    for (const SourceFile& f : files) {
        if (f.size > kMaxFolderBytes)
            Fail(problems, f.path + ": " + std::to_string(f.size) + " bytes, over the " +
                               std::to_string(kMaxFolderBytes) + " one cabinet folder holds");
    }
    return problems->errors.size() == before;
}

// libgcab reads the date from the fields of the GDateTime as given, whatever its zone.
static GDateTime* DateTimeFromDos(DosDateTime d) {
    return g_date_time_new_utc(1980 + (d.date >> 9), (d.date >> 5) & 15, d.date & 31, d.time >> 11,
                               (d.time >> 5) & 63, (d.time & 31) * 2);
}

// libgcab opens each packed file by name, twice. To be sure it reads the very file that
// was checked, and never blocks on a FIFO put in its place, every file is opened here first
// (without blocking), checked against the scan, and libgcab is given /proc/self/fd/N, where
// N is one descriptor number that points at the file of the moment.
struct Pinned {
    int fd = -1;      // N: /dev/null while no file is pinned
    std::string path; // /proc/self/fd/N
};

// Opens f without blocking and checks that it is still the regular file the scan found:
// same identity, size and modification time. The descriptor in *fd; false with a line in *problems.
static bool OpenUnchanged(const SourceFile& f, int* fd, Problems* problems) {
    *fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (*fd < 0) {
        Fail(problems, f.path + ": changed while packing (" + strerror(errno) + ")");
        return false;
    }
    struct stat st;
    const bool same = fstat(*fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      static_cast<uint64_t>(st.st_dev) == f.device &&
                      static_cast<uint64_t>(st.st_ino) == f.inode &&
                      static_cast<uint64_t>(st.st_size) == f.size && st.st_mtim.tv_sec == f.mtime &&
                      st.st_mtim.tv_nsec == f.mtimeNanos;
    if (!same) {
        Fail(problems, f.path + ": changed while packing");
        close(*fd);
        *fd = -1;
    }
    return same;
}

// True when the file open at fd still has f's size and modification time, after it was read.
static bool StillUnchanged(const SourceFile& f, int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == f.size &&
           st.st_mtim.tv_sec == f.mtime && st.st_mtim.tv_nsec == f.mtimeNanos;
}

// Points the pinned descriptor at fd (-1: at /dev/null again) and closes fd. False when
// the pinned path cannot serve it.
static bool Pin(const Pinned& pinned, int fd, Problems* problems) {
    bool ok = true;
    if (fd >= 0) {
        ok = dup3(fd, pinned.fd, O_CLOEXEC) >= 0 && access(pinned.path.c_str(), R_OK) == 0;
        if (!ok)
            Fail(problems,
                 "cannot read packed files through " + pinned.path + ": " + strerror(errno));
        close(fd);
    } else {
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0) {
            dup3(null, pinned.fd, O_CLOEXEC);
            close(null);
        }
    }
    return ok;
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

struct WriteContext {
    const std::vector<SourceFile>* files;
    const Pinned* pinned;
    GCancellable* cancel;
    size_t next = 0;  // index of the file libgcab starts next
    int reading = -1; // our descriptor of the file libgcab reads, for the check after
    size_t readingIndex = 0;
    Problems problems; // why the write was cancelled
    Progress* progress;
    uint64_t pending = 0; // size of the file being written, counted once the next one starts
};

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
        ok = Pin(*ctx->pinned, fd, &ctx->problems) && ctx->reading >= 0;
    } else {
        ok = false;
    }
    if (!ok) {
        Pin(*ctx->pinned, -1, &ctx->problems);
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
static bool WriteFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                        const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                        Problems* problems) {
    GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
    bool ok = true;
    for (size_t i = first; ok && i < end; ++i)
        ok = AddToFolder(folder, files[i], policy, *ctx->pinned, problems);
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

// A folder compressed alone by libgcab, waiting for the cabinet it goes to.
struct PackedFolder {
    TempFile temp;    // libgcab's one-folder cabinet, closed
    CabFolder folder; // its entry there
    std::vector<CabFile> files;
    FolderCost cost; // dataBytes: its data blocks, from folder.dataOffset on
};

// Compresses files [first, end) as a one-folder cabinet into a temporary file beside path and
// reads its tables back into *out. False with a line in *problems; out->temp is then discarded.
static bool PackFolder(const std::vector<SourceFile>& files, size_t first, size_t end,
                       const TimePolicy& policy, const std::string& path, WriteContext* ctx,
                       PackedFolder* out, Problems* problems) {
    if (!CreateTempBeside(path, ".part", &out->temp, problems))
        return false;
    Source src;
    bool ok = CloseTemp(&out->temp) &&
              WriteFolder(files, first, end, policy, out->temp.path, ctx, problems) &&
              OpenSource(out->temp.path, &src, problems);
    if (!ok) {
        DiscardTemp(&out->temp);
        return false;
    }
    CabInfo info;
    Problems readBack; // any problem is libgcab's
    ok = ReadCabinet(src, &info, &readBack) && readBack.errors.empty() &&
         info.folders.size() == 1 && info.files.size() == end - first &&
         info.cabinetSize == src.size;
    for (size_t i = 0; ok && i < info.files.size(); ++i)
        ok = info.files[i].name == files[first + i].name;
    CloseSource(&src);
    if (!ok) {
        Fail(problems,
             "libgcab wrote an unexpected cabinet for the folder starting at " + files[first].path);
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

// What a cabinet of a set says of its place in the set.
struct SetPlace {
    uint16_t index = 0;
    std::string prev, next; // "" when there is none
};

// The header, names, folder and file tables of a cabinet of folders whose data ends at
// dataEnd, as they start the cabinet. The folders' data offsets and the files' folder indexes
// are already the cabinet's.
static std::vector<uint8_t> EncodeTables(const SetPlace& place,
                                         const std::vector<CabFolder>& folders,
                                         const std::vector<CabFile>& files, uint64_t dataEnd) {
    std::vector<uint8_t> b(kCfheadSizeof);
    uint16_t flags = 0;
    for (const std::string* name : {&place.prev, &place.next}) {
        if (name->empty())
            continue;
        flags |= name == &place.prev ? kCabPrevCabinet : kCabNextCabinet;
        b.insert(b.end(), name->begin(), name->end());
        b.push_back(0);
        b.push_back(0); // the disk's name, empty
    }
    memcpy(&b[kCfheadSignature], kCabSignature, kCabSignatureSize);
    WriteLe32(&b[kCfheadCabinetSize], static_cast<uint32_t>(dataEnd));
    WriteLe32(&b[kCfheadFilesOffset],
              static_cast<uint32_t>(b.size() + kCffoldSizeof * folders.size()));
    b[kCfheadMinorVersion] = kCabMinorVersion;
    b[kCfheadMajorVersion] = kCabMajorVersion;
    WriteLe16(&b[kCfheadFolderCount], static_cast<uint16_t>(folders.size()));
    WriteLe16(&b[kCfheadFileCount], static_cast<uint16_t>(files.size()));
    WriteLe16(&b[kCfheadFlags], flags);
    WriteLe16(&b[kCfheadCabinetIndex], place.index);
    for (const CabFolder& folder : folders) {
        uint8_t e[kCffoldSizeof];
        WriteLe32(e + kCffoldDataOffset, folder.dataOffset);
        WriteLe16(e + kCffoldBlockCount, folder.dataBlocks);
        WriteLe16(e + kCffoldCompression, folder.compression);
        b.insert(b.end(), e, e + sizeof(e));
    }
    for (const CabFile& f : files) {
        uint8_t e[kCffileSizeof];
        WriteLe32(e + kCffileUncompressedSize, f.size);
        WriteLe32(e + kCffileFolderOffset, f.folderOffset);
        WriteLe16(e + kCffileFolderIndex, f.folder);
        WriteLe16(e + kCffileDate, f.date);
        WriteLe16(e + kCffileTime, f.time);
        WriteLe16(e + kCffileAttributes, f.attributes);
        b.insert(b.end(), e, e + sizeof(e));
        b.insert(b.end(), f.name.begin(), f.name.end());
        b.push_back(0);
    }
    return b;
}

// Writes the first count folders of waiting as one cabinet at place into the empty file at path:
// their data blocks, which stand alone in the format, after the tables, which are written
// last. Folds each folder's data into *digest. False with a line in *problems.
static bool JoinFolders(const std::vector<PackedFolder>& waiting, size_t count,
                        const SetPlace& place, uint64_t partBytes, const std::string& path,
                        uint32_t* digest, Problems* problems) {
    std::vector<CabFolder> folders;
    std::vector<CabFile> files;
    uint64_t entries = 0;
    for (size_t i = 0; i < count; ++i)
        entries += waiting[i].cost.entryBytes;
    uint64_t dataEnd = CabinetTablesSize(place.prev, place.next, count, entries);
    for (size_t i = 0; i < count; ++i)
        dataEnd += waiting[i].cost.dataBytes;
    // The worst case was planned for; a cabinet over the limit is never written.
    if (dataEnd > partBytes && count == 1 && waiting[0].files.size() == 1) {
        const CabFile& f = waiting[0].files[0];
        Fail(problems, f.name + ": " + std::to_string(f.size) + " bytes, compressed to " +
                           std::to_string(dataEnd) + ", over the " + std::to_string(partBytes) +
                           " bytes of one cabinet; at most " +
                           std::to_string(FolderLimit(partBytes)) + " bytes fit whatever the data");
        return false;
    }
    if (dataEnd > partBytes) {
        Fail(problems, "cabinet " + std::to_string(place.index + 1) + " would be " +
                           std::to_string(dataEnd) + " bytes, over the " +
                           std::to_string(partBytes) + " allowed");
        return false;
    }
    const int out = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (out < 0) {
        Fail(problems, path + ": " + strerror(errno));
        return false;
    }
    uint64_t at = CabinetTablesSize(place.prev, place.next, count, entries);
    bool ok = lseek(out, static_cast<off_t>(at), SEEK_SET) >= 0;
    if (!ok)
        Fail(problems, path + ": " + strerror(errno));
    for (size_t i = 0; ok && i < count; ++i) {
        const PackedFolder& p = waiting[i];
        Source src;
        ok = OpenSource(p.temp.path, &src, problems);
        uint32_t crc = 0;
        ok = ok &&
             DigestPayload(SubSource(src, p.folder.dataOffset, p.cost.dataBytes), &crc, problems) &&
             CopyRange(src, p.folder.dataOffset, p.cost.dataBytes, out, nullptr, problems);
        CloseSource(&src);
        *digest = Crc32cCombine(*digest, crc, p.cost.dataBytes);
        CabFolder folder = p.folder;
        folder.dataOffset = static_cast<uint32_t>(at);
        at += p.cost.dataBytes;
        for (CabFile f : p.files) {
            f.folder = static_cast<uint16_t>(folders.size());
            files.push_back(f);
        }
        folders.push_back(folder);
    }
    if (ok) {
        const std::vector<uint8_t> tables = EncodeTables(place, folders, files, at);
        ok = pwrite(out, tables.data(), tables.size(), 0) == static_cast<ssize_t>(tables.size());
        if (!ok)
            Fail(problems, path + ": " + strerror(errno));
    }
    if (close(out) != 0 && ok) {
        Fail(problems, path + ": " + strerror(errno));
        ok = false;
    }
    return ok;
}

// A set being written: the plan, the folders waiting for their cabinet, the cabinets done.
struct SetWriter {
    const SetRequest* request = nullptr;
    SetPlan plan;
    std::vector<PackedFolder> open; // the folders of plan.open
    WrittenSet* out = nullptr;
    uint32_t digest = 0; // of every folder's data, in order
};

// Writes the first count open folders as the plan's open cabinet, which names the next one
// when hasNext, and lets their temporary files go. False with a line in *problems.
static bool CloseCabinet(SetWriter* w, size_t count, bool hasNext, Problems* problems) {
    const SetRequest& r = *w->request;
    const size_t index = w->plan.cabinet;
    SetPlace place;
    place.index = static_cast<uint16_t>(index); // a cabinet holds a file at least: <= 65535
    if (index > 0)
        place.prev = SetCabinetName(r.installerName, index - 1);
    bool ok = true;
    if (hasNext) {
        ok = CheckSetNames(r.installerName, index + 2, problems);
        place.next = SetCabinetName(r.installerName, index + 1);
    }
    std::string path = r.firstPath;
    if (ok && index > 0) {
        TempFile part;
        ok = CreateTempBeside(r.folder + SetCabinetName(r.installerName, index), "", &part,
                              problems);
        if (ok) {
            CloseTemp(&part);
            w->out->later.push_back(part);
            path = part.path;
        }
    }
    ok = ok && JoinFolders(w->open, count, place, r.partBytes, path, &w->digest, problems);
    for (size_t i = 0; i < count && i < w->open.size(); ++i)
        DiscardTemp(&w->open[i].temp);
    w->open.erase(w->open.begin(), w->open.begin() + static_cast<ptrdiff_t>(count));
    w->plan.open.erase(w->plan.open.begin(), w->plan.open.begin() + static_cast<ptrdiff_t>(count));
    ++w->plan.cabinet;
    return ok;
}

// Writes setId into the header of the cabinet at path. False with a line in *problems.
static bool StampSetId(const std::string& path, uint16_t setId, Problems* problems) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    uint8_t field[2];
    WriteLe16(field, setId);
    bool ok = fd >= 0 && pwrite(fd, field, sizeof(field), kCfheadSetId) == sizeof(field);
    ok = fd >= 0 && close(fd) == 0 && ok;
    if (!ok)
        Fail(problems, path + ": " + strerror(errno));
    return ok;
}

// libgcab writes one folder per cabinet: each folder is compressed alone into a cabinet beside
// the first, and its data blocks are moved into the cabinet of the set it is placed in, as
// soon as that cabinet is full. Once all are written, each gets the set's ID.
static bool WriteFolders(const std::vector<SourceFile>& files, const std::vector<size_t>& folderOf,
                         const TimePolicy& policy, const SetRequest& request, WriteContext* ctx,
                         WrittenSet* out, Problems* problems) {
    SetWriter w;
    w.request = &request;
    w.plan.partBytes = request.partBytes;
    w.plan.installerName = request.installerName;
    w.out = out;
    bool ok = true;
    for (size_t first = 0, end = 0; ok && first < files.size(); first = end) {
        while (end < files.size() && folderOf[end] == folderOf[first])
            ++end;
        PackedFolder p;
        ok = PackFolder(files, first, end, policy, request.firstPath, ctx, &p, problems);
        for (size_t n; ok && (n = FoldersToClose(w.plan, p.cost)) > 0;)
            ok = CloseCabinet(&w, n, true, problems);
        if (ok) {
            w.plan.open.push_back(p.cost);
            w.open.push_back(p);
        } else {
            DiscardTemp(&p.temp);
        }
    }
    ok = ok && CloseCabinet(&w, w.open.size(), false, problems);
    for (PackedFolder& p : w.open)
        DiscardTemp(&p.temp);
    if (!ok || w.plan.cabinet == 1)
        return ok;
    out->setId = SetIdFromDigest(w.digest);
    ok = StampSetId(request.firstPath, out->setId, problems);
    for (size_t i = 0; ok && i < out->later.size(); ++i)
        ok = StampSetId(out->later[i].path, out->setId, problems);
    return ok;
}

bool WriteCabinetSet(const std::vector<SourceFile>& files, const TimePolicy& policy,
                     const SetRequest& request, Progress* progress, WrittenSet* out,
                     Problems* problems) {
    *out = WrittenSet();
    std::vector<FileCost> costs;
    for (const SourceFile& f : files)
        costs.push_back({f.size, FileEntryBytes(f.name)});
    std::vector<size_t> folderOf;
    size_t tooBig = 0;
    if (!AssignFolders(costs, request.partBytes, &folderOf, &tooBig)) {
        Fail(problems, files[tooBig].path + ": " + std::to_string(files[tooBig].size) +
                           " bytes, over the " + std::to_string(kMaxFolderBytes) +
                           " one cabinet folder holds");
        return false;
    }
    Pinned pinned;
    pinned.fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (pinned.fd < 0) {
        Fail(problems, std::string("cannot open /dev/null: ") + strerror(errno));
        return false;
    }
    pinned.path = "/proc/self/fd/" + std::to_string(pinned.fd);
    WriteContext ctx;
    ctx.files = &files;
    ctx.pinned = &pinned;
    ctx.cancel = g_cancellable_new();
    ctx.progress = progress;
    // One folder always fits one cabinet, as libgcab writes it.
    const bool ok =
        files.empty() || folderOf.back() == 0
            ? WriteFolder(files, 0, files.size(), policy, request.firstPath, &ctx, problems)
            : WriteFolders(files, folderOf, policy, request, &ctx, out, problems);
    g_object_unref(ctx.cancel);
    close(pinned.fd);
    if (!ok)
        DiscardSet(out);
    return ok;
}

void DiscardSet(WrittenSet* set) {
    for (TempFile& t : set->later)
        DiscardTemp(&t);
    set->later.clear();
}
