// The payload record's digests, checked before anything is written: the embedded cabinet's,
// read on two threads, and each later cabinet's. The reading begins at start-up, while the
// user chooses a folder, so that the check after "Extraire" usually finds it done.
#pragma once

#include <windows.h>
#include <cstdint>

#include "cab_errors.h"
#include "payload_record.h"

// The payload record sfxpack stored in the image's resources; false when there is none.
bool FindPayloadRecord(PayloadRecord* record);

// Starts reading the payload for its digests on a thread of its own, when the installer
// carries a payload record. Its streams are its own; nothing else of the run is touched. Once
// per process, before the first check.
void StartPayloadDigest();

// The embedded cabinet (length bytes present) against the record: 0 or CAB_ERROR_INCOMPLETE
// (FDIERROR_ALLOC_FAIL when no memory was left to read it). Waits for the digest begun at
// start-up, first posting WM_EXTRACT_CHECKING to notify (when not null) if it is not done and
// the payload is large; computes it when it was never begun. FDIERROR_USER_ABORT as soon as a
// cancel is confirmed meanwhile.
int CheckEmbeddedDigest(const PayloadRecord& record, uint64_t length, HWND notify);

// What the digest begun at start-up found of later cabinet number index (0: the first after
// the embedded one): true with its length and CRC-32C when it read that cabinet whole.
bool EarlyPartDigest(uint32_t index, uint64_t* length, uint32_t* crc);
