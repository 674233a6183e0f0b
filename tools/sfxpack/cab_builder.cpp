#include "cab_builder.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <libgcab.h>

#include "cab_reader.h"
#include "progress.h"

bool ParseEpoch(const char* text, int64_t* out) {
    if (!text || !*text)
        return false;
    int64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const int digit = *p - '0';
        if (value > (INT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    *out = value;
    return true;
}

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

bool CheckCabinetCapacity(const std::vector<SourceFile>& files,
                          std::vector<std::string>* problems) {
    const size_t before = problems->size();
    uint64_t total = 0;
    for (const SourceFile& f : files) {
        if (f.size > UINT32_MAX)
            problems->push_back(f.path + ": " + std::to_string(f.size) +
                                " bytes, over the 4 GiB a cabinet entry holds");
        total += f.size;
    }
    if (total > kMaxFolderBytes)
        problems->push_back(std::to_string(total) + " bytes of files, over the " +
                            std::to_string(kMaxFolderBytes) + " one cabinet folder holds");
    return problems->size() == before;
}

// libgcab reads the date from the fields of the GDateTime as given, whatever its zone.
static GDateTime* DateTimeFromDos(DosDateTime d) {
    return g_date_time_new_utc(1980 + (d.date >> 9), (d.date >> 5) & 15, d.date & 31, d.time >> 11,
                               (d.time >> 5) & 63, (d.time & 31) * 2);
}

// Adds f to folder with its archived time and attributes. Adding resets both, so they are
// set afterwards.
static bool AddToFolder(GCabFolder* folder, const SourceFile& f, const TimePolicy& policy,
                        std::string* error) {
    GFile* source = g_file_new_for_path(f.path.c_str());
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
        *error = f.path + ": " + gerror->message;
        g_error_free(gerror);
    }
    g_object_unref(file);
    return added;
}

struct WriteContext {
    Progress* progress;
    uint64_t pending; // size of the file being written, counted once the next one starts
};

// libgcab calls this as it starts each file.
static gboolean OnFileStart(GCabFile* file, gpointer data) {
    WriteContext* ctx = static_cast<WriteContext*>(data);
    AdvanceProgress(ctx->progress, ctx->pending);
    ctx->pending = gcab_file_get_size(file);
    return TRUE;
}

// Writes cabinet into the existing file at path (seekable: libgcab rewrites the header).
static bool WriteToPath(GCabCabinet* cabinet, const std::string& path, WriteContext* ctx,
                        std::string* error) {
    GError* gerror = nullptr;
    GFile* target = g_file_new_for_path(path.c_str());
    GFileIOStream* io = g_file_open_readwrite(target, nullptr, &gerror);
    g_object_unref(target);
    bool ok = io != nullptr;
    if (ok) {
        ok = gcab_cabinet_write(cabinet, g_io_stream_get_output_stream(G_IO_STREAM(io)),
                                OnFileStart, nullptr, ctx, nullptr, &gerror);
        GError* closeError = nullptr;
        if (!g_io_stream_close(G_IO_STREAM(io), nullptr, ok ? &gerror : &closeError))
            ok = false;
        if (closeError)
            g_error_free(closeError);
        g_object_unref(io);
    }
    if (!ok) {
        *error = std::string("cannot write the cabinet: ") +
                 (gerror ? gerror->message : "unknown error");
        if (gerror)
            g_error_free(gerror);
    }
    return ok;
}

bool WriteCabinet(const std::vector<SourceFile>& files, const TimePolicy& policy,
                  const std::string& path, Progress* progress, std::string* error) {
    GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
    bool ok = true;
    for (size_t i = 0; ok && i < files.size(); ++i)
        ok = AddToFolder(folder, files[i], policy, error);
    GCabCabinet* cabinet = gcab_cabinet_new();
    GError* gerror = nullptr;
    if (ok && !gcab_cabinet_add_folder(cabinet, folder, &gerror)) {
        *error = std::string("cannot build the cabinet: ") + gerror->message;
        g_error_free(gerror);
        ok = false;
    }
    WriteContext ctx{progress, 0};
    ok = ok && WriteToPath(cabinet, path, &ctx, error);
    if (ok)
        AdvanceProgress(progress, ctx.pending);
    g_object_unref(cabinet);
    g_object_unref(folder);
    return ok;
}
