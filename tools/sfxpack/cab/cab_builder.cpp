#include "cab/cab_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cab/cab_tables.h"
#include "cab/folder_pool.h"
#include "cab/folder_writer.h"
#include "crc32c.h"
#include "le.h"
#include "payload/payload_digest.h"
#include "util/progress.h"

bool CheckCabinetCapacity(const std::vector<SourceFile>& files, Problems* problems) {
    const size_t before = problems->errors.size();
    for (const SourceFile& f : files) {
        if (f.size > kMaxFolderBytes)
            Fail(problems, f.path + ": " + std::to_string(f.size) + " bytes, over the " +
                               std::to_string(kMaxFolderBytes) + " one cabinet folder holds");
    }
    return problems->errors.size() == before;
}

// Writes the first count folders of waiting as one cabinet at place into the empty file at path:
// their data blocks, which stand alone in the format, after the tables, which are written
// last. Folds each folder's data into *digest. False with a line in *problems.
static bool JoinFolders(const std::vector<PackedFolder>& waiting, size_t count,
                        const SetPlace& place, uint64_t partBytes, uint64_t growth,
                        const std::string& path, uint32_t* digest, Problems* problems) {
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
                           std::to_string(FolderLimit(partBytes, growth)) +
                           " bytes fit whatever the data");
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
    ok = ok && JoinFolders(w->open, count, place, r.partBytes,
                           WorstBlockGrowth(r.compression.kind), path, &w->digest, problems);
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

// Compresses folders[index] into *p: on the pool when there is one, else here.
static bool NextFolder(const std::vector<SourceFile>& files,
                       const std::vector<std::pair<size_t, size_t>>& folders, size_t index,
                       FolderPool* pool, const TimePolicy& policy, const SetRequest& request,
                       WriteContext* ctx, PackedFolder* p, Problems* problems) {
    const size_t first = folders[index].first, end = folders[index].second;
    if (!pool)
        return PackFolder(files, first, end, policy, request.firstPath, ctx, p, problems);
    if (!TakeFolder(pool, index, &p->temp, problems)) {
        DiscardTemp(&p->temp);
        return false;
    }
    for (size_t i = first; i < end; ++i)
        AdvanceProgress(ctx->progress, files[i].size);
    return ReadBackFolder(files, first, end, p, problems);
}

// Each folder is compressed alone into a cabinet beside the first (LZX folders on as many
// threads as there are processors), and its data blocks are moved, in order, into the cabinet
// of the set it is placed in, as soon as that cabinet is full. Once all are written, each gets
// the set's ID.
static bool WriteFolders(const std::vector<SourceFile>& files, const std::vector<size_t>& folderOf,
                         const TimePolicy& policy, const SetRequest& request, WriteContext* ctx,
                         WrittenSet* out, Problems* problems) {
    SetWriter w;
    w.request = &request;
    w.plan.partBytes = request.partBytes;
    w.plan.installerName = request.installerName;
    w.out = out;
    std::vector<std::pair<size_t, size_t>> folders;
    for (size_t first = 0, end = 0; first < files.size(); first = end) {
        while (end < files.size() && folderOf[end] == folderOf[first])
            ++end;
        folders.push_back({first, end});
    }
    FolderPoolPtr pool;
    const unsigned threads = UsableProcessors();
    if (request.compression.kind == CompressionKind::Lzx && threads > 1) {
        LzxOptions options;
        options.windowBits = request.compression.windowBits;
        options.level = request.compression.level;
        pool = StartFolderPool(files, folders, policy, options, request.firstPath,
                               static_cast<unsigned>(std::min<size_t>(threads, folders.size())),
                               problems);
        if (!pool)
            return false;
    }
    bool ok = true;
    for (size_t index = 0; ok && index < folders.size(); ++index) {
        PackedFolder p;
        ok = NextFolder(files, folders, index, pool.get(), policy, request, ctx, &p, problems);
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
    uint64_t payloadBytes = 0;
    for (const SourceFile& f : files) {
        costs.push_back({f.size, FileEntryBytes(f.name)});
        payloadBytes += f.size;
    }
    std::vector<size_t> folderOf;
    size_t tooBig = 0;
    if (!AssignFolders(costs, request.partBytes, &folderOf, &tooBig,
                       WorstBlockGrowth(request.compression.kind),
                       SharedFolderBytes(payloadBytes, request.compression.kind))) {
        Fail(problems, files[tooBig].path + ": " + std::to_string(files[tooBig].size) +
                           " bytes, over the " + std::to_string(kMaxFolderBytes) +
                           " one cabinet folder holds");
        return false;
    }
    WriteContext ctx;
    if (!StartWriting(&files, request.compression, progress, &ctx, problems))
        return false;
    // One folder always fits one cabinet, as libgcab writes it.
    const bool ok =
        files.empty() || folderOf.back() == 0
            ? WriteFolder(files, 0, files.size(), policy, request.firstPath, &ctx, problems)
            : WriteFolders(files, folderOf, policy, request, &ctx, out, problems);
    StopWriting(&ctx);
    if (!ok)
        DiscardSet(out);
    return ok;
}

void DiscardSet(WrittenSet* set) {
    for (TempFile& t : set->later)
        DiscardTemp(&t);
    set->later.clear();
}
