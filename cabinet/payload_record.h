// The record sfxpack stores in an installer's resources, and the stub reads before it writes
// anything: the size and CRC-32C of the payload, and the author's choices made at pack time.
// Pure logic: no platform calls.
#pragma once

#include <cstddef>
#include <cstdint>

// Where the record lives: an RT_RCDATA resource of this number, language neutral.
constexpr uint16_t kPayloadRecordId = 1;
constexpr size_t kPayloadRecordSize = 24;

// The author's choices, one bit each.
constexpr uint16_t kRecordProgressBar = 0x0001;

struct PayloadRecord {
    uint16_t flags = 0;
    uint64_t payloadSize = 0; // bytes of cabinet data from the end of the sections on
    uint32_t crc32c = 0;      // of those bytes
};

// The record's bytes: "OVPR", version 1, flags, payload size, CRC-32C, 4 reserved zero bytes;
// little-endian.
void WritePayloadRecord(const PayloadRecord& record, unsigned char (&out)[kPayloadRecordSize]);

// False when data[0, size) is not a record of this version (a later version changes the
// layout; an unknown flag is kept).
bool ReadPayloadRecord(const void* data, size_t size, PayloadRecord* record);
