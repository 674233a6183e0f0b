#include "payload_record.h"

#include <string.h>

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

size_t PayloadRecordSize(uint32_t laterParts, const PayloadText* texts, size_t count) {
    if (count == 0)
        return PayloadRecordSize(laterParts);
    size_t size = kPayloadRecordSize + kPartCountSize + kPartEntrySize * laterParts;
    for (size_t i = 0; i < count; ++i)
        size += kTextHeaderSize + strlen(texts[i].text);
    return size + kTextHeaderSize; // the end mark
}

void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts, unsigned char* out) {
    WritePayloadRecord(record, parts, nullptr, 0, out);
}

void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts,
                        const PayloadText* texts, size_t count, unsigned char* out) {
    const size_t size = PayloadRecordSize(record.laterParts, texts, count);
    for (size_t i = 0; i < size; ++i)
        out[i] = 0;
    for (size_t i = 0; i < sizeof(kMagic); ++i)
        out[kRecordMagic + i] = kMagic[i];
    WriteLe16(out + kRecordVersion, kVersion);
    WriteLe16(out + kRecordFlags,
              count ? static_cast<uint16_t>(record.flags | kRecordTexts) : record.flags);
    WriteLe64(out + kRecordPayloadSize, record.payloadSize);
    WriteLe32(out + kRecordCrc, record.crc32c);
    if (record.laterParts == 0 && count == 0)
        return;
    WriteLe32(out + kPayloadRecordSize, record.laterParts);
    unsigned char* entry = out + kPayloadRecordSize + kPartCountSize;
    for (uint32_t i = 0; i < record.laterParts; ++i, entry += kPartEntrySize) {
        WriteLe64(entry + kPartSize, parts[i].size);
        WriteLe32(entry + kPartCrc, parts[i].crc32c);
    }
    for (size_t i = 0; i < count; ++i) { // the end mark is left zero
        const size_t length = strlen(texts[i].text);
        WriteLe16(entry, texts[i].tag);
        WriteLe16(entry + 2, static_cast<uint16_t>(length));
        memcpy(entry + kTextHeaderSize, texts[i].text, length);
        entry += kTextHeaderSize + length;
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
    record->texts = nullptr;
    record->textsSize = 0;
    const bool hasTexts = (record->flags & kRecordTexts) != 0;
    if (size < kPayloadRecordSize + kPartCountSize)
        return !hasTexts; // resources are padded: a short tail is no table
    const uint64_t count = ReadLe32(p + kPayloadRecordSize);
    if (count > (size - kPayloadRecordSize - kPartCountSize) / kPartEntrySize)
        return false;
    record->laterParts = static_cast<uint32_t>(count);
    record->partTable = p + kPayloadRecordSize + kPartCountSize;
    if (!hasTexts)
        return true;
    // The texts run to their end mark, which must lie inside the bytes given.
    const size_t start = kPayloadRecordSize + kPartCountSize + kPartEntrySize * count;
    for (size_t at = start;;) {
        if (size - at < kTextHeaderSize)
            return false;
        const uint16_t tag = ReadLe16(p + at);
        const size_t length = ReadLe16(p + at + 2);
        if (tag == 0) {
            record->texts = p + start;
            record->textsSize = at + kTextHeaderSize - start;
            return length == 0;
        }
        if (size - at - kTextHeaderSize < length)
            return false;
        at += kTextHeaderSize + length;
    }
}

bool PayloadRecordText(const PayloadRecord& record, uint16_t tag, const char** text,
                       size_t* length) {
    for (size_t at = 0; record.texts && tag != 0 && at + kTextHeaderSize <= record.textsSize;) {
        const uint16_t found = ReadLe16(record.texts + at);
        const size_t n = ReadLe16(record.texts + at + 2);
        if (found == 0)
            break;
        if (found == tag) {
            *text = reinterpret_cast<const char*>(record.texts + at + kTextHeaderSize);
            *length = n;
            return true;
        }
        at += kTextHeaderSize + n;
    }
    return false;
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
