// The record sfxpack stores in an installer's resources, and the stub reads before it writes
// anything: the size and CRC-32C of the payload, of each later cabinet of a set, and the
// author's choices made at pack time. Pure logic: no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the record lives: an RT_RCDATA resource of this number, language neutral.
constexpr uint16_t kPayloadRecordId = 1;
constexpr size_t kPayloadRecordSize = 24;
// After the record, in an installer whose payload goes on in later cabinets: their count
// (32 bits), then for each, in the set's order, its size (64 bits), its CRC-32C (32 bits) and
// 4 reserved zero bytes.
constexpr size_t kPartCountSize = 4;
constexpr size_t kPartEntrySize = 16;

// The author's choices, one bit each.
constexpr uint16_t kRecordProgressBar = 0x0001;
// The record carries the author's texts after its part table (whose count is then always
// written, 0 included): each a tag (16 bits), a length (16 bits) and that many bytes of UTF-8,
// without a terminator; a tag of 0 with a length of 0 ends them.
constexpr uint16_t kRecordTexts = 0x0002;

// The author's texts.
constexpr uint16_t kTextDestination = 1; // the folder proposed and used; %VARIABLES% expanded
constexpr uint16_t kTextSetupArgs = 2;   // the setup program's default arguments
constexpr size_t kTextHeaderSize = 4;
constexpr size_t kMaxTextBytes = 0xFFFF;

// One of the author's texts, for the writer: tag and terminated UTF-8 text.
struct PayloadText {
    uint16_t tag;
    const char* text;
};

// A later cabinet of the set: the file beside the installer that the previous cabinet names.
struct PayloadPart {
    uint64_t size = 0;   // of the whole file
    uint32_t crc32c = 0; // of the whole file
};

struct PayloadRecord {
    uint16_t flags = 0;
    uint64_t payloadSize = 0; // bytes of cabinet data from the end of the sections on
    uint32_t crc32c = 0;      // of those bytes
    uint32_t laterParts = 0;  // cabinets after the embedded one
    const unsigned char* partTable = nullptr; // their entries, inside the bytes read
    const unsigned char* texts = nullptr;     // the author's texts, inside the bytes read
    size_t textsSize = 0;                     // their bytes, the end mark included
};

// The bytes a record with laterParts entries takes.
constexpr size_t PayloadRecordSize(uint32_t laterParts) {
    return laterParts ? kPayloadRecordSize + kPartCountSize + kPartEntrySize * laterParts
                      : kPayloadRecordSize;
}

// The bytes a record takes with laterParts entries and texts[0, count) (none: as above). Each
// text is at most kMaxTextBytes long.
size_t PayloadRecordSize(uint32_t laterParts, const PayloadText* texts, size_t count);

// The record's bytes: "OVPR", version 1, flags, payload size, CRC-32C, 4 reserved zero bytes;
// little-endian; then, when record.laterParts is not 0, the part table from parts[0,
// laterParts). out holds PayloadRecordSize(record.laterParts) bytes.
void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts, unsigned char* out);

// The same with the author's texts[0, count) after the part table, and kRecordTexts set in the
// flags written, when count is not 0. out holds PayloadRecordSize(record.laterParts, texts,
// count) bytes.
void WritePayloadRecord(const PayloadRecord& record, const PayloadPart* parts,
                        const PayloadText* texts, size_t count, unsigned char* out);

// False when data[0, size) is not a record of this version (a later version changes the
// layout; an unknown flag is kept), or its part table or its texts (with kRecordTexts) do not
// fit in size or do not end. On success record->partTable and record->texts point into data.
bool ReadPayloadRecord(const void* data, size_t size, PayloadRecord* record);

// The record's later part number index (0 is the first cabinet after the embedded one).
PayloadPart PayloadPartAt(const PayloadRecord& record, uint32_t index);

// The author's text of this tag: true with *text pointing into the record's bytes (not
// terminated) and its *length, false when the record has none.
bool PayloadRecordText(const PayloadRecord& record, uint16_t tag, const char** text,
                       size_t* length);
