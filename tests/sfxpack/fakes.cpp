#include "fakes.h"

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
    Put32(&b, 60, kFakeNtOffset);
    Put16(&b, kFakeNtOffset + 4, 0x14c);
    Put16(&b, kFakeNtOffset + 6, static_cast<uint16_t>(sections.size()));
    Put16(&b, kFakeNtOffset + 20, 224);
    Put16(&b, kFakeNtOffset + 24, 0x10b);
    Put32(&b, kFakeNtOffset + 24 + 92, 16); // data directories
    for (size_t i = 0; i < sections.size(); ++i) {
        Put32(&b, kFakeNtOffset + 248 + 40 * i + 16, sections[i].second);
        Put32(&b, kFakeNtOffset + 248 + 40 * i + 20, sections[i].first);
    }
    return b;
}

Bytes MakeCab(const std::vector<FakeEntry>& entries) {
    Bytes cab(44), data(8);
    uint32_t offset = 0;
    for (const FakeEntry& e : entries) {
        const size_t at = cab.size();
        cab.resize(at + 16);
        Put32(&cab, at, static_cast<uint32_t>(e.data.size()));
        Put32(&cab, at + 4, offset);
        Put16(&cab, at + 10, 0x5821); // 2024-01-01
        Put16(&cab, at + 14, e.attributes);
        cab.insert(cab.end(), e.name.c_str(), e.name.c_str() + e.name.size() + 1);
        data.insert(data.end(), e.data.begin(), e.data.end());
        offset += static_cast<uint32_t>(e.data.size());
    }
    Put16(&data, 4, static_cast<uint16_t>(offset));
    Put16(&data, 6, static_cast<uint16_t>(offset));
    cab[0] = 'M', cab[1] = 'S', cab[2] = 'C', cab[3] = 'F', cab[24] = 3, cab[25] = 1;
    Put32(&cab, 8, static_cast<uint32_t>(cab.size() + data.size()));
    Put32(&cab, 16, 44);
    Put16(&cab, 26, 1);
    Put16(&cab, 28, static_cast<uint16_t>(entries.size()));
    Put32(&cab, 36, static_cast<uint32_t>(cab.size()));
    Put16(&cab, 40, 1);
    cab.insert(cab.end(), data.begin(), data.end());
    return cab;
}
