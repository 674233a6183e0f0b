#include "cab_writer.h"

static void Put16(std::string* s, uint32_t v) {
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>((v >> 8) & 0xFF));
}

static void Put32(std::string* s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// Appends f's file entry, in folder, at *offset in its folder, which then moves past f.
static void PutFileEntry(std::string* cab, const CabEntry& f, uint16_t folder,
                         uint32_t* offset) {
    Put32(cab, static_cast<uint32_t>(f.data.size()));
    Put32(cab, *offset);
    Put16(cab, folder);
    Put16(cab, f.date);
    Put16(cab, f.time);
    Put16(cab, f.attribs);
    *cab += f.name;
    cab->push_back('\0');
    *offset += static_cast<uint32_t>(f.data.size());
}

std::string WriteCab(const std::vector<CabEntry>& files, const CabLink& link) {
    const size_t kHeader = 36, kFolder = 8, kFileFixed = 16, kBlock = 32768;
    std::string all;
    for (const CabEntry& f : files)
        all += f.data;
    size_t fileTable = 0;
    for (const CabEntry& f : files)
        fileTable += kFileFixed + f.name.size() + 1;
    std::string names; // with an empty disk name after each cabinet's
    uint16_t flags = 0;
    if (!link.prev.empty()) {
        names += link.prev + '\0' + '\0';
        flags |= 1;
    }
    if (!link.next.empty()) {
        names += link.next + '\0' + '\0';
        flags |= 2;
    }
    const size_t header = kHeader + names.size();
    const size_t blocks = (all.size() + kBlock - 1) / kBlock;
    const size_t dataStart = header + kFolder + fileTable;
    const size_t total = dataStart + blocks * 8 + all.size();

    std::string cab = "MSCF";
    Put32(&cab, 0);
    Put32(&cab, static_cast<uint32_t>(total));
    Put32(&cab, 0);
    Put32(&cab, static_cast<uint32_t>(header + kFolder)); // coffFiles
    Put32(&cab, 0);
    cab.push_back(3); // version 1.3
    cab.push_back(1);
    Put16(&cab, 1);                                   // folders
    Put16(&cab, static_cast<uint32_t>(files.size())); // files
    Put16(&cab, flags);
    Put16(&cab, link.setId);
    Put16(&cab, link.index);
    cab += names;

    Put32(&cab, static_cast<uint32_t>(dataStart));
    Put16(&cab, static_cast<uint32_t>(blocks));
    Put16(&cab, 0); // no compression

    uint32_t offset = 0;
    for (const CabEntry& f : files)
        PutFileEntry(&cab, f, 0, &offset);
    for (size_t at = 0; at < all.size(); at += kBlock) {
        const size_t n = all.size() - at < kBlock ? all.size() - at : kBlock;
        Put32(&cab, 0); // no checksum
        Put16(&cab, static_cast<uint32_t>(n));
        Put16(&cab, static_cast<uint32_t>(n));
        cab.append(all, at, n);
    }
    return cab;
}

std::string WriteFoldersCab(const std::vector<std::vector<CabEntry>>& folders, int damagedFolder) {
    const size_t kHeader = 36, kFolder = 8, kFileFixed = 16, kBlock = 32768;
    size_t fileTable = 0, files = 0;
    for (const std::vector<CabEntry>& folder : folders) {
        for (const CabEntry& f : folder)
            fileTable += kFileFixed + f.name.size() + 1;
        files += folder.size();
    }
    std::string data; // the blocks of every folder
    std::vector<size_t> starts, blocks;
    const size_t dataStart = kHeader + folders.size() * kFolder + fileTable;
    for (size_t i = 0; i < folders.size(); ++i) {
        std::string all;
        for (const CabEntry& f : folders[i])
            all += f.data;
        starts.push_back(dataStart + data.size());
        blocks.push_back(0);
        for (size_t at = 0; at < all.size(); at += kBlock) {
            const size_t n = all.size() - at < kBlock ? all.size() - at : kBlock;
            const bool last = at + n == all.size();
            Put32(&data, 0); // no checksum
            Put16(&data, static_cast<uint32_t>(n));
            Put16(&data, static_cast<uint32_t>(
                             n + (last && static_cast<int>(i) == damagedFolder ? 1 : 0)));
            data.append(all, at, n);
            ++blocks.back();
        }
    }
    std::string cab = "MSCF";
    Put32(&cab, 0);
    Put32(&cab, static_cast<uint32_t>(dataStart + data.size()));
    Put32(&cab, 0);
    Put32(&cab, static_cast<uint32_t>(kHeader + folders.size() * kFolder)); // coffFiles
    Put32(&cab, 0);
    cab.push_back(3); // version 1.3
    cab.push_back(1);
    Put16(&cab, static_cast<uint32_t>(folders.size()));
    Put16(&cab, static_cast<uint32_t>(files));
    Put16(&cab, 0);
    Put16(&cab, 0x1234);
    Put16(&cab, 0);
    for (size_t i = 0; i < folders.size(); ++i) {
        Put32(&cab, static_cast<uint32_t>(starts[i]));
        Put16(&cab, static_cast<uint32_t>(blocks[i]));
        Put16(&cab, 0); // no compression
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        uint32_t offset = 0;
        for (const CabEntry& f : folders[i])
            PutFileEntry(&cab, f, static_cast<uint16_t>(i), &offset);
    }
    return cab + data;
}
