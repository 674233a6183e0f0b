#include "pe/resource_tree.h"

#include "le.h"

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirectoryHeaderSize = 16;
constexpr size_t kEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr size_t kDataAlignment = 8;
// Directories and entries walked, so that a tree whose entries share directories stays cheap.
constexpr size_t kMaxEntriesWalked = 3 * kMaxResources;

int CompareIds(const ResourceId& a, const ResourceId& b) {
    if (a.isName != b.isName)
        return a.isName ? -1 : 1;
    if (a.isName)
        return a.name.compare(b.name);
    return a.number < b.number ? -1 : a.number > b.number;
}

ResourceId NumberId(uint16_t number) {
    ResourceId id;
    id.number = number;
    return id;
}

namespace {

// The tree being read: the root's file offset and how many bytes of its section follow it.
struct TreeReader {
    const Source& src;
    const PeHeaders& h;
    uint64_t root;
    uint64_t available;
    std::vector<Resource>* out;
    Problems* problems;
    size_t walked = 0;
    uint64_t bytes = 0;
};

bool Fail(TreeReader* t, const std::string& why) {
    return Fail(t->problems, "resources: " + why);
}

// Reads n bytes at offset from the root, inside the resource section.
bool ReadTree(TreeReader* t, uint64_t offset, void* buf, size_t n) {
    return offset <= t->available && n <= t->available - offset &&
           ReadAt(t->src, t->root + offset, buf, n);
}

// Reads the id of a directory entry: a number, or a string at an offset from the root.
bool ReadId(TreeReader* t, uint32_t field, ResourceId* id) {
    if (!(field & kHighBit)) {
        if (field > 0xffff)
            return Fail(t, "an id over 65535");
        *id = NumberId(static_cast<uint16_t>(field));
        return true;
    }
    uint8_t length[2];
    if (!ReadTree(t, field & ~kHighBit, length, 2))
        return Fail(t, "a name lies outside the resource section");
    std::vector<uint8_t> units(2 * size_t(ReadLe16(length)));
    if (!ReadTree(t, (field & ~kHighBit) + 2, units.data(), units.size()))
        return Fail(t, "a name lies outside the resource section");
    id->isName = true;
    id->number = 0;
    id->name.clear();
    for (size_t i = 0; i < units.size(); i += 2)
        id->name.push_back(static_cast<char16_t>(ReadLe16(&units[i])));
    return true;
}

// Reads the data entry at offset and the resource data it points at into r.
bool ReadLeaf(TreeReader* t, uint32_t offset, Resource* r) {
    uint8_t e[kDataEntrySize];
    if (!ReadTree(t, offset, e, sizeof(e)))
        return Fail(t, "a data entry lies outside the resource section");
    const uint32_t rva = ReadLe32(e), size = ReadLe32(e + 4);
    r->codePage = ReadLe32(e + 8);
    uint64_t at = 0;
    if (size > kMaxResourceBytes - t->bytes || !RvaToOffset(t->h, rva, size, &at))
        return Fail(t, "resource data of " + std::to_string(size) +
                           " bytes lies outside the file or is too large");
    t->bytes += size;
    r->data.resize(size);
    if (size && !ReadAt(t->src, at, r->data.data(), size))
        return Fail(t, "resource data lies outside the file");
    return true;
}

// Reads the directory at offset, at level 0 (types), 1 (names) or 2 (languages); path holds
// the ids of the levels above.
bool ReadDirectory(TreeReader* t, uint32_t offset, int level, Resource* path) {
    uint8_t header[kDirectoryHeaderSize];
    if (!ReadTree(t, offset, header, sizeof(header)))
        return Fail(t, "a directory lies outside the resource section");
    const size_t count = size_t(ReadLe16(header + 12)) + ReadLe16(header + 14);
    std::vector<uint8_t> entries(count * kEntrySize);
    if (!ReadTree(t, uint64_t(offset) + kDirectoryHeaderSize, entries.data(), entries.size()))
        return Fail(t, "a directory lies outside the resource section");
    t->walked += 1 + count;
    if (t->walked > kMaxEntriesWalked)
        return Fail(t, "more than " + std::to_string(kMaxResources) + " resources");
    for (size_t i = 0; i < count; ++i) {
        const uint32_t nameField = ReadLe32(&entries[i * kEntrySize]);
        const uint32_t dataField = ReadLe32(&entries[i * kEntrySize + 4]);
        ResourceId* id = level == 0 ? &path->type : level == 1 ? &path->name : &path->language;
        if (!ReadId(t, nameField, id))
            return false;
        if ((level < 2) != ((dataField & kHighBit) != 0))
            return Fail(t, "the tree is not three levels deep");
        if (level < 2) {
            if (!ReadDirectory(t, dataField & ~kHighBit, level + 1, path))
                return false;
            continue;
        }
        if (t->out->size() == kMaxResources)
            return Fail(t, "more than " + std::to_string(kMaxResources) + " resources");
        Resource r;
        r.type = path->type, r.name = path->name, r.language = path->language;
        if (!ReadLeaf(t, dataField, &r))
            return false;
        t->out->push_back(std::move(r));
    }
    return true;
}

} // namespace

bool ReadResources(const Source& src, const PeHeaders& h, std::vector<Resource>* out,
                   Problems* problems) {
    out->clear();
    if (h.directoryCount <= kResourceDirectory || h.directories[kResourceDirectory].size == 0)
        return true;
    const uint32_t rva = h.directories[kResourceDirectory].rva;
    for (const PeSection& s : h.sections) {
        const uint32_t extent = s.virtualSize ? s.virtualSize : s.rawSize;
        const uint32_t inFile = extent < s.rawSize ? extent : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= inFile)
            continue;
        TreeReader t{src,
                     h,
                     uint64_t(s.rawPointer) + (rva - s.virtualAddress),
                     inFile - (rva - s.virtualAddress),
                     out,
                     problems};
        Resource path;
        if (ReadDirectory(&t, 0, 0, &path))
            return true;
        out->clear();
        return false;
    }
    Fail(problems, "resources: the resource directory lies outside the sections' data");
    return false;
}

void InsertResource(std::vector<Resource>* list, Resource r) {
    auto at = list->begin();
    while (at != list->end()) {
        int c = CompareIds(at->type, r.type);
        if (c == 0)
            c = CompareIds(at->name, r.name);
        if (c == 0)
            c = CompareIds(at->language, r.language);
        if (c > 0)
            break;
        ++at;
    }
    list->insert(at, std::move(r));
}

namespace {

// A run of resources [begin, end) of the list sharing a type, or a type and a name.
struct Run {
    size_t begin, end;
};

// Splits [begin, end) into runs of equal ids at the given level (0 type, 1 name).
std::vector<Run> Runs(const std::vector<Resource>& list, size_t begin, size_t end, int level) {
    std::vector<Run> runs;
    for (size_t i = begin; i < end; ++i) {
        const auto id = [&](size_t k) -> const ResourceId& {
            return level == 0 ? list[k].type : list[k].name;
        };
        if (i == begin || CompareIds(id(i), id(i - 1)) != 0)
            runs.push_back({i, i + 1});
        else
            runs.back().end = i + 1;
    }
    return runs;
}

// The section being written: its bytes, where the next name string goes.
struct TreeWriter {
    std::vector<uint8_t> out;
    size_t nextString;
};

// Writes a directory header at offset for ids, and each id into its entry.
void WriteDirectory(TreeWriter* w, size_t offset, const std::vector<const ResourceId*>& ids) {
    uint16_t named = 0;
    for (const ResourceId* id : ids)
        named += id->isName;
    WriteLe16(&w->out[offset + 12], named);
    WriteLe16(&w->out[offset + 14], static_cast<uint16_t>(ids.size() - named));
    for (size_t i = 0; i < ids.size(); ++i) {
        uint8_t* entry = &w->out[offset + kDirectoryHeaderSize + i * kEntrySize];
        if (!ids[i]->isName) {
            WriteLe32(entry, ids[i]->number);
            continue;
        }
        WriteLe32(entry, kHighBit | static_cast<uint32_t>(w->nextString));
        WriteLe16(&w->out[w->nextString], static_cast<uint16_t>(ids[i]->name.size()));
        for (size_t c = 0; c < ids[i]->name.size(); ++c)
            WriteLe16(&w->out[w->nextString + 2 + 2 * c], ids[i]->name[c]);
        w->nextString += 2 + 2 * ids[i]->name.size();
    }
}

size_t DirectorySize(size_t entries) {
    return kDirectoryHeaderSize + entries * kEntrySize;
}

size_t StringSize(const ResourceId& id) {
    return id.isName ? 2 + 2 * id.name.size() : 0;
}

} // namespace

std::vector<uint8_t> BuildResourceSection(const std::vector<Resource>& list, uint32_t rva) {
    const std::vector<Run> types = Runs(list, 0, list.size(), 0);
    std::vector<std::vector<Run>> names;
    size_t tables = DirectorySize(types.size()), strings = 0;
    for (const Run& t : types) {
        names.push_back(Runs(list, t.begin, t.end, 1));
        tables += DirectorySize(names.back().size());
        strings += StringSize(list[t.begin].type);
        for (const Run& n : names.back())
            tables += DirectorySize(n.end - n.begin), strings += StringSize(list[n.begin].name);
    }
    for (const Resource& r : list)
        strings += StringSize(r.language);
    const size_t dataEntries = tables;
    const size_t stringsStart = dataEntries + list.size() * kDataEntrySize;
    TreeWriter w{std::vector<uint8_t>(stringsStart + strings), stringsStart};

    // Root, then the type directories, then the name directories, in list order.
    std::vector<const ResourceId*> ids;
    size_t next = DirectorySize(types.size());
    for (const Run& t : types)
        ids.push_back(&list[t.begin].type);
    std::vector<size_t> typeAt;
    for (size_t i = 0; i < types.size(); ++i) {
        typeAt.push_back(next);
        WriteLe32(&w.out[kDirectoryHeaderSize + i * kEntrySize + 4],
                  kHighBit | static_cast<uint32_t>(next));
        next += DirectorySize(names[i].size());
    }
    WriteDirectory(&w, 0, ids);
    size_t leaf = 0;
    for (size_t i = 0; i < types.size(); ++i) {
        ids.clear();
        for (size_t j = 0; j < names[i].size(); ++j) {
            const Run& n = names[i][j];
            ids.push_back(&list[n.begin].name);
            WriteLe32(&w.out[typeAt[i] + kDirectoryHeaderSize + j * kEntrySize + 4],
                      kHighBit | static_cast<uint32_t>(next));
            std::vector<const ResourceId*> languages;
            for (size_t k = n.begin; k < n.end; ++k, ++leaf) {
                languages.push_back(&list[k].language);
                WriteLe32(&w.out[next + kDirectoryHeaderSize + (k - n.begin) * kEntrySize + 4],
                          static_cast<uint32_t>(dataEntries + leaf * kDataEntrySize));
            }
            WriteDirectory(&w, next, languages);
            next += DirectorySize(n.end - n.begin);
        }
        WriteDirectory(&w, typeAt[i], ids);
    }

    // The data, each resource aligned, and the entries pointing at it.
    for (size_t i = 0; i < list.size(); ++i) {
        w.out.resize((w.out.size() + kDataAlignment - 1) & ~(kDataAlignment - 1));
        uint8_t* entry = &w.out[dataEntries + i * kDataEntrySize];
        WriteLe32(entry, rva + static_cast<uint32_t>(w.out.size()));
        WriteLe32(entry + 4, static_cast<uint32_t>(list[i].data.size()));
        WriteLe32(entry + 8, list[i].codePage);
        w.out.insert(w.out.end(), list[i].data.begin(), list[i].data.end());
    }
    return w.out;
}
