#include "lzx_cab.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mspack.h>

#include "cab/cab_tables.h"
#include "cab/data_block.h"

constexpr uint16_t kTypeLzx = 3;
constexpr size_t kMaxFolderBlocks = 65535;

// Checks one frame against what a data block carries: full frames but the last, payload
// within the encoder's bound and the block's, padded to 16 bits.
static std::string FrameFault(const LzxFrame& f, size_t index, bool last) {
    const std::string at = "frame " + std::to_string(index) + ": ";
    if (f.uncompressed == 0 || f.uncompressed > kLzxFrameSize)
        return at + "uncompressed size " + std::to_string(f.uncompressed);
    if (!last && f.uncompressed != kLzxFrameSize)
        return at + "short frame before the last";
    if (f.data.size() > f.uncompressed + kLzxMaxFrameGrowth || f.data.size() > kMaxDataBlockPayload)
        return at + std::to_string(f.data.size()) + " bytes for " + std::to_string(f.uncompressed);
    if (f.data.size() % 2 != 0)
        return at + "payload of odd size " + std::to_string(f.data.size());
    return "";
}

// Moves the encoder's ready frames into blocks, checking each; false past the block limit.
static bool DrainFrames(LzxEncoder* e, bool finished, std::vector<uint8_t>* blocks,
                        LzxCabinet* cab) {
    LzxFrame f;
    std::vector<LzxFrame> pending;
    while (LzxTakeFrame(e, &f))
        pending.push_back(std::move(f));
    for (size_t i = 0; i < pending.size(); ++i) {
        const bool last = finished && i + 1 == pending.size();
        if (cab->frameFault.empty())
            cab->frameFault = FrameFault(pending[i], cab->frames, last);
        AppendDataBlock(pending[i].data.data(), pending[i].data.size(), pending[i].uncompressed,
                        blocks);
        if (++cab->frames > kMaxFolderBlocks)
            return false;
    }
    return true;
}

bool BuildLzxCabinet(const LzxOptions& options, const std::vector<uint32_t>& fileSizes,
                     const StreamSource& source, LzxCabinet* cab) {
    *cab = LzxCabinet{};
    LzxEncoderPtr e = LzxCreate(options);
    if (!e)
        return false;
    std::vector<uint8_t> blocks, piece;
    for (;;) {
        source(&piece);
        if (piece.empty())
            break;
        LzxWrite(e.get(), piece.data(), piece.size());
        if (!DrainFrames(e.get(), false, &blocks, cab))
            return false;
    }
    LzxFinish(e.get());
    if (!DrainFrames(e.get(), true, &blocks, cab))
        return false;

    std::vector<CabFile> files;
    uint32_t offset = 0;
    for (size_t i = 0; i < fileSizes.size(); ++i) {
        CabFile f;
        f.name = "f" + std::to_string(i);
        f.size = fileSizes[i];
        f.folderOffset = offset;
        f.date = 0x5821; // 2024-01-01
        f.attributes = 0x20;
        files.push_back(f);
        offset += fileSizes[i];
    }
    CabFolder folder;
    folder.dataBlocks = uint16_t(cab->frames);
    folder.compression = uint16_t(kTypeLzx | options.windowBits << 8);
    const size_t tablesSize = EncodeTables(SetPlace{}, {folder}, files, 0).size();
    folder.dataOffset = uint32_t(tablesSize);
    cab->bytes = EncodeTables(SetPlace{}, {folder}, files, tablesSize + blocks.size());
    cab->bytes.insert(cab->bytes.end(), blocks.begin(), blocks.end());
    return true;
}

namespace {
// libmspack's view of the two files it opens: the cabinet (read) and the extracted file.
struct MemFile {
    const std::vector<uint8_t>* in = nullptr;
    size_t pos = 0;
    const ByteSink* out = nullptr;
};

// The system handed to libmspack: its first member so that self casts back.
struct MemSystem {
    mspack_system sys;
    const std::vector<uint8_t>* cab;
    const ByteSink* sink;
};
} // namespace

static mspack_file* MemOpen(mspack_system* self, const char* name, int mode) {
    const MemSystem* s = reinterpret_cast<MemSystem*>(self);
    MemFile* f = new MemFile;
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, "cab") == 0)
        f->in = s->cab;
    else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, "out") == 0)
        f->out = s->sink;
    else {
        delete f;
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(f);
}

static void MemClose(mspack_file* file) {
    delete reinterpret_cast<MemFile*>(file);
}

static int MemRead(mspack_file* file, void* buffer, int bytes) {
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->in || bytes < 0)
        return -1;
    const size_t n = std::min(size_t(bytes), f->in->size() - std::min(f->pos, f->in->size()));
    if (n)
        std::memcpy(buffer, f->in->data() + f->pos, n);
    f->pos += n;
    return int(n);
}

static int MemWrite(mspack_file* file, void* buffer, int bytes) {
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->out || bytes < 0)
        return -1;
    return (*f->out)(static_cast<const uint8_t*>(buffer), size_t(bytes)) ? bytes : -1;
}

static int MemSeek(mspack_file* file, off_t offset, int mode) {
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->in)
        return -1;
    const off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                       : mode == MSPACK_SYS_SEEK_CUR ? off_t(f->pos)
                                                     : off_t(f->in->size());
    if (base + offset < 0 || size_t(base + offset) > f->in->size())
        return -1;
    f->pos = size_t(base + offset);
    return 0;
}

static off_t MemTell(mspack_file* file) {
    return off_t(reinterpret_cast<MemFile*>(file)->pos);
}

static void MemMessage(mspack_file*, const char*, ...) {}

static void* MemAlloc(mspack_system*, size_t bytes) {
    return std::malloc(bytes);
}

static void MemFree(void* p) {
    std::free(p);
}

static void MemCopy(void* src, void* dest, size_t bytes) {
    std::memmove(dest, src, bytes);
}

// libmspack's error codes in words.
static std::string MspackError(int code) {
    static const char* const kNames[] = {"ok",        "args",       "open",     "read",
                                         "write",     "seek",       "no memory", "signature",
                                         "data format", "checksum", "crunch",   "decrunch"};
    if (code >= 0 && size_t(code) < sizeof kNames / sizeof kNames[0])
        return kNames[code];
    return "error " + std::to_string(code);
}

int MspackExtract(const std::vector<uint8_t>& cab, unsigned index, const ByteSink& sink,
                  std::string* why) {
    MemSystem s{{MemOpen, MemClose, MemRead, MemWrite, MemSeek, MemTell, MemMessage, MemAlloc,
                 MemFree, MemCopy, nullptr},
                &cab, &sink};
    mscab_decompressor* d = mspack_create_cab_decompressor(&s.sys);
    if (!d) {
        *why = "no decompressor";
        return MSPACK_ERR_NOMEMORY;
    }
    int rc = MSPACK_ERR_OK;
    mscabd_cabinet* c = d->open(d, const_cast<char*>("cab"));
    if (!c) {
        rc = d->last_error(d);
        *why = "open: " + MspackError(rc);
    } else {
        mscabd_file* f = c->files;
        for (unsigned i = 0; f && i < index; ++i)
            f = f->next;
        if (!f) {
            rc = MSPACK_ERR_ARGS;
            *why = "no file " + std::to_string(index);
        } else if ((rc = d->extract(d, f, const_cast<char*>("out"))) != MSPACK_ERR_OK) {
            *why = "extract " + std::string(f->filename) + ": " + MspackError(rc);
        }
        d->close(d, c);
    }
    mspack_destroy_cab_decompressor(d);
    return rc;
}

bool BuildLzxCabinetOf(const LzxOptions& options, const std::vector<std::vector<uint8_t>>& files,
                       LzxCabinet* cab) {
    std::vector<uint32_t> sizes;
    for (const auto& f : files)
        sizes.push_back(uint32_t(f.size()));
    size_t next = 0;
    // Files go in one by one, so that writes of every size reach the encoder.
    StreamSource source = [&](std::vector<uint8_t>* out) {
        out->clear();
        while (next < files.size() && files[next].empty())
            ++next;
        if (next < files.size())
            *out = files[next++];
    };
    return BuildLzxCabinet(options, sizes, source, cab);
}

int MspackExtractAll(const std::vector<uint8_t>& cab, size_t fileCount,
                     std::vector<std::vector<uint8_t>>* files, std::string* why) {
    files->assign(fileCount, {});
    for (size_t i = 0; i < fileCount; ++i) {
        std::vector<uint8_t>* out = &(*files)[i];
        ByteSink sink = [out](const uint8_t* data, size_t size) {
            out->insert(out->end(), data, data + size);
            return true;
        };
        const int rc = MspackExtract(cab, unsigned(i), sink, why);
        if (rc != MSPACK_ERR_OK)
            return rc;
    }
    return MSPACK_ERR_OK;
}
