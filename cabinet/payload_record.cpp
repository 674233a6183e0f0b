#include "payload_record.h"

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

void Put(unsigned char* p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}
uint64_t Get(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

} // namespace

void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts, unsigned char* out) {
    const size_t size = PayloadRecordSize(record.laterParts);
    for (size_t i = 0; i < size; ++i)
        out[i] = 0;
    for (size_t i = 0; i < sizeof(kMagic); ++i)
        out[kRecordMagic + i] = kMagic[i];
    Put(out + kRecordVersion, kVersion, 2);
    Put(out + kRecordFlags, record.flags, 2);
    Put(out + kRecordPayloadSize, record.payloadSize, 8);
    Put(out + kRecordCrc, record.crc32c, 4);
    if (record.laterParts == 0)
        return;
    Put(out + kPayloadRecordSize, record.laterParts, kPartCountSize);
    unsigned char* entry = out + kPayloadRecordSize + kPartCountSize;
    for (uint32_t i = 0; i < record.laterParts; ++i, entry += kPartEntrySize) {
        Put(entry + kPartSize, parts[i].size, 8);
        Put(entry + kPartCrc, parts[i].crc32c, 4);
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
    if (Get(p + kRecordVersion, 2) != kVersion)
        return false;
    record->flags = static_cast<uint16_t>(Get(p + kRecordFlags, 2));
    record->payloadSize = Get(p + kRecordPayloadSize, 8);
    record->crc32c = static_cast<uint32_t>(Get(p + kRecordCrc, 4));
    record->laterParts = 0;
    record->partTable = nullptr;
    if (size < kPayloadRecordSize + kPartCountSize)
        return true; // resources are padded: a short tail is no table
    const uint64_t count = Get(p + kPayloadRecordSize, kPartCountSize);
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
    part.size = Get(entry + kPartSize, 8);
    part.crc32c = static_cast<uint32_t>(Get(entry + kPartCrc, 4));
    return part;
}
