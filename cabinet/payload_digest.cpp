#include "payload_digest.h"

#include <io.h>
#include <new>
#include <process.h>

#include "cab_messages.h"
#include "cab_source.h"
#include "crc32c.h"
#include "embedded_file.h"
#include "extractor.h"

namespace {

// How often a wait for the digest looks at the cancel flag.
constexpr DWORD kCancelPollMs = 50;
// The payload size from which the window is told that the check takes a moment.
constexpr uint64_t kCheckNoticeBytes = 8u << 20;

// One part of the payload digested on a stream of its own: from its offset in the cabinet, its
// length of bytes; crc and outcome are the answer.
struct DigestPart {
    uint64_t from;
    uint64_t length;
    uint32_t crc;
    ReadOutcome outcome;
};

unsigned __stdcall DigestOnOwnStream(void* argument) {
    DigestPart* part = static_cast<DigestPart*>(argument);
    OwnCabinet own = OpenOwn(part->from, part->length);
    part->outcome = own.file ? SourceCrc(OwnSource(&own), &part->crc) : kReadCut;
    CloseOwn(&own);
    return 0;
}

// The CRC-32C of the embedded cabinet's first size bytes. The two halves are read and summed
// at once, on two streams and threads: the check then costs about half the time of one pass.
ReadOutcome PayloadCrc(uint64_t size, uint32_t* crc) {
    DigestPart low = {0, size / 2, 0, kReadCut};
    DigestPart high = {size / 2, size - size / 2, 0, kReadCut};
    HANDLE helper =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DigestOnOwnStream, &low, 0, nullptr));
    if (!helper)
        DigestOnOwnStream(&low);
    DigestOnOwnStream(&high);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    *crc = Crc32cCombine(low.crc, high.crc, high.length);
    return low.outcome != kReadOk ? low.outcome : high.outcome;
}

// One later cabinet as the early digest found it.
struct PartDigest {
    bool read = false; // opened and read whole
    uint64_t length = 0;
    uint32_t crc = 0;
};

// The digest begun at start-up: written by its thread, read only after the thread has ended.
struct EarlyDigest {
    HANDLE thread = nullptr;
    uint64_t size = 0; // of the embedded cabinet, as the record gives it
    uint32_t crc = 0;
    ReadOutcome outcome = kReadCut;
    PartDigest* parts = nullptr; // one per later cabinet of the record
    uint32_t partCount = 0;
};
EarlyDigest s_early;

unsigned __stdcall DigestWholePayload(void*) {
    s_early.outcome = PayloadCrc(s_early.size, &s_early.crc);
    if (s_early.partCount == 0)
        return 0;
    // The later cabinets, each whole, found as the run will find them.
    SetLink link;
    OwnCabinet own = OpenOwn(0, s_early.size);
    const bool linked = own.file && ReadSetLink(OwnSource(&own), &link) == kReadOk;
    CloseOwn(&own);
    for (uint32_t i = 0; linked && i < s_early.partCount && link.next[0]; ++i) {
        DiskCabinet part;
        if (!OpenDisk(link.next, &part))
            break; // the check names the part it cannot find
        PartDigest& digest = s_early.parts[i];
        digest.length = part.length;
        digest.read = SourceCrc(DiskSource(&part), &digest.crc) == kReadOk;
        if (ReadSetLink(DiskSource(&part), &link) != kReadOk)
            link.next[0] = '\0';
        CloseDisk(&part);
    }
    return 0;
}

} // namespace

bool FindPayloadRecord(PayloadRecord* record) {
    const HMODULE image = g_hInstance ? g_hInstance : GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(kPayloadRecordId),
                                      MAKEINTRESOURCEW(10)); // RT_RCDATA
    const HGLOBAL loaded = found ? LoadResource(image, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data && ReadPayloadRecord(data, SizeofResource(image, found), record);
}

void StartPayloadDigest() {
    PayloadRecord record;
    if (s_early.thread || !FindPayloadRecord(&record))
        return;
    s_early.size = record.payloadSize;
    s_early.parts = record.laterParts ? new (std::nothrow) PartDigest[record.laterParts] : nullptr;
    s_early.partCount = s_early.parts ? record.laterParts : 0;
    s_early.thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, DigestWholePayload, nullptr, 0, nullptr));
}

int CheckEmbeddedDigest(const PayloadRecord& record, uint64_t length, HWND notify) {
    if (record.payloadSize > length)
        return CAB_ERROR_INCOMPLETE;
    const bool pending = !s_early.thread || WaitForSingleObject(s_early.thread, 0) == WAIT_TIMEOUT;
    if (pending && notify && record.payloadSize >= kCheckNoticeBytes)
        PostMessageW(notify, WM_EXTRACT_CHECKING, 0, 0);
    if (s_early.thread) {
        // A confirmed cancel is not kept waiting for the digest.
        while (WaitForSingleObject(s_early.thread, kCancelPollMs) == WAIT_TIMEOUT) {
            if (g_cancelRequested.load())
                return FDIERROR_USER_ABORT;
        }
    } else {
        s_early.outcome = PayloadCrc(record.payloadSize, &s_early.crc);
    }
    if (s_early.outcome != kReadOk)
        return ReadOutcomeCode(s_early.outcome);
    return s_early.crc == record.crc32c ? 0 : CAB_ERROR_INCOMPLETE;
}

bool EarlyPartDigest(uint32_t index, uint64_t* length, uint32_t* crc) {
    if (!s_early.thread || index >= s_early.partCount ||
        WaitForSingleObject(s_early.thread, 0) != WAIT_OBJECT_0 || !s_early.parts[index].read)
        return false;
    *length = s_early.parts[index].length;
    *crc = s_early.parts[index].crc;
    return true;
}
