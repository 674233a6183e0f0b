#include "payload_record.h"

#include "le.h"

namespace {

constexpr unsigned char kMagic[4] = {'O', 'V', 'P', 'R'};
constexpr uint16_t kVersion = 1;
// Fields of the record.
constexpr size_t kRecordMagic = 0;
constexpr size_t kRecordVersion = 4;
constexpr size_t kRecordFlags = 6;
constexpr size_t kRecordPayloadSize = 8;
constexpr size_t kRecordCrc = 16;
// Fields of a part entry.
constexpr size_t kPartSize = 0;
constexpr size_t kPartCrc = 8;

} // namespace

void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts, unsigned char* out) {
    const size_t size = PayloadRecordSize(record.laterParts);
    for (size_t i = 0; i < size; ++i)
        out[i] = 0;
    for (size_t i = 0; i < sizeof(kMagic); ++i)
        out[kRecordMagic + i] = kMagic[i];
    WriteLe16(out + kRecordVersion, kVersion);
    WriteLe16(out + kRecordFlags, record.flags);
    WriteLe64(out + kRecordPayloadSize, record.payloadSize);
    WriteLe32(out + kRecordCrc, record.crc32c);
    if (record.laterParts == 0)
        return;
    WriteLe32(out + kPayloadRecordSize, record.laterParts);
    unsigned char* entry = out + kPayloadRecordSize + kPartCountSize;
    for (uint32_t i = 0; i < record.laterParts; ++i, entry += kPartEntrySize) {
        WriteLe64(entry + kPartSize, parts[i].size);
        WriteLe32(entry + kPartCrc, parts[i].crc32c);
    }
}

bool ReadPayloadRecord(const void* data, size_t size, PayloadRecord* record) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (!p || size < kPayloadRecordSize)
        return false;
    for (size_t i = 0; i < sizeof(kMagic); ++i) {
        if (p[kRecordMagic + i] != kMagic[i])
            return false;
    }
    if (ReadLe16(p + kRecordVersion) != kVersion)
        return false;
    record->flags = ReadLe16(p + kRecordFlags);
    record->payloadSize = ReadLe64(p + kRecordPayloadSize);
    record->crc32c = ReadLe32(p + kRecordCrc);
    record->laterParts = 0;
    record->partTable = nullptr;
    if (size < kPayloadRecordSize + kPartCountSize)
        return true; // resources are padded: a short tail is no table
    const uint64_t count = ReadLe32(p + kPayloadRecordSize);
    if (count > (size - kPayloadRecordSize - kPartCountSize) / kPartEntrySize)
        return false;
    record->laterParts = static_cast<uint32_t>(count);
    record->partTable = p + kPayloadRecordSize + kPartCountSize;
    return true;
}

PayloadPart PayloadPartAt(const PayloadRecord& record, uint32_t index) {
    PayloadPart part;
    if (index >= record.laterParts || !record.partTable)
        return part;
    const unsigned char* entry = record.partTable + kPartEntrySize * index;
    part.size = ReadLe64(entry + kPartSize);
    part.crc32c = ReadLe32(entry + kPartCrc);
    return part;
}
