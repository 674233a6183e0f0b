#include "cab/cab_tables.h"

#include <cstring>

#include "cab_format.h"
#include "le.h"

std::vector<uint8_t> EncodeTables(const SetPlace& place, const std::vector<CabFolder>& folders,
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
