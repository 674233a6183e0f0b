#include "fakes.h"

#include <algorithm>

void Put16(Bytes* b, size_t at, uint16_t v) {
    (*b)[at] = static_cast<uint8_t>(v);
    (*b)[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes* b, size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

Bytes MakePe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, size_t fileSize) {
    Bytes b(fileSize);
    b[0] = 'M', b[1] = 'Z', b[kFakeNtOffset] = 'P', b[kFakeNtOffset + 1] = 'E';
    Put32(&b, kDosNtOffset, kFakeNtOffset);
    Put16(&b, kFakeCoff + kCoffMachine, kMachineI386);
    Put16(&b, kFakeCoff + kCoffSectionCount, static_cast<uint16_t>(sections.size()));
    Put16(&b, kFakeCoff + kCoffOptionalHeaderSize, kPe32OptionalHeaderSize);
    Put16(&b, kFakeOpt + kOptMagic, kPe32Magic);
    Put32(&b, kFakeOpt + kOpt32DirectoryCount, kMaxDirectories);
    for (size_t i = 0; i < sections.size(); ++i) {
        Put32(&b, FakeSection(i) + kSectionRawSize, sections[i].second);
        Put32(&b, FakeSection(i) + kSectionRawPointer, sections[i].first);
    }
    return b;
}

Bytes MakeCab(const std::vector<FakeEntry>& entries) {
    Bytes cab(kFakeFiles), data(kCfdataSizeof);
    uint32_t offset = 0;
    for (const FakeEntry& e : entries) {
        const size_t at = cab.size();
        cab.resize(at + kCffileSizeof);
        Put32(&cab, at + kCffileUncompressedSize, static_cast<uint32_t>(e.data.size()));
        Put32(&cab, at + kCffileFolderOffset, offset);
        Put16(&cab, at + kCffileDate, 0x5821); // 2024-01-01
        Put16(&cab, at + kCffileAttributes, e.attributes);
        cab.insert(cab.end(), e.name.c_str(), e.name.c_str() + e.name.size() + 1);
        data.insert(data.end(), e.data.begin(), e.data.end());
        offset += static_cast<uint32_t>(e.data.size());
    }
    Put16(&data, kCfdataCompressedSize, static_cast<uint16_t>(offset));
    Put16(&data, kCfdataUncompressedSize, static_cast<uint16_t>(offset));
    std::copy(kCabSignature, kCabSignature + kCabSignatureSize, cab.begin() + kCfheadSignature);
    cab[kCfheadMinorVersion] = kCabMinorVersion, cab[kCfheadMajorVersion] = kCabMajorVersion;
    Put32(&cab, kCfheadCabinetSize, static_cast<uint32_t>(cab.size() + data.size()));
    Put32(&cab, kCfheadFilesOffset, kFakeFiles);
    Put16(&cab, kCfheadFolderCount, 1);
    Put16(&cab, kCfheadFileCount, static_cast<uint16_t>(entries.size()));
    Put32(&cab, kFakeFolder + kCffoldDataOffset, static_cast<uint32_t>(cab.size()));
    Put16(&cab, kFakeFolder + kCffoldBlockCount, 1);
    cab.insert(cab.end(), data.begin(), data.end());
    return cab;
}

std::string ErrorText(const Problems& p) {
    std::string all;
    for (const std::string& line : p.errors)
        all += line + "\n";
    return all;
}
