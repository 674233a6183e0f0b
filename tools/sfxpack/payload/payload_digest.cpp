#include "payload/payload_digest.h"

#include <algorithm>
#include <cstdio>

#include "crc32c.h"
#include "util/hex.h"
#include "util/text.h"

constexpr size_t kDigestChunk = 1u << 20;

bool DigestPayload(const Source& payload, uint32_t* crc, Problems* problems) {
    std::vector<uint8_t> chunk(kDigestChunk);
    *crc = 0;
    for (uint64_t at = 0; at < payload.size; at += chunk.size()) {
        const size_t n = static_cast<size_t>(payload.size - at < chunk.size() ? payload.size - at
                                                                              : chunk.size());
        if (!ReadAt(payload, at, chunk.data(), n))
            return Fail(problems, "cannot read the payload to digest it");
        *crc = Crc32c(*crc, chunk.data(), n);
    }
    return true;
}

// True when r is the payload record's resource, in whatever language.
static bool IsRecord(const Resource& r) {
    return CompareIds(r.type, NumberId(kTypeRcdata)) == 0 &&
           CompareIds(r.name, NumberId(kPayloadRecordId)) == 0;
}

// The texts of the record as --list shows them, in the order they are written.
static const struct {
    uint16_t tag;
    const char* label;
} kTextLabels[] = {
    {kTextDestination, "destination"},
    {kTextSetupArgs, "setup arguments"},
};

bool CheckRecordText(const std::string& label, const std::string& text, Problems* problems) {
    if (text.empty())
        return Fail(problems, label + " is empty");
    if (text.size() > kMaxTextBytes)
        return Fail(problems, label + " is " + std::to_string(text.size()) + " bytes long, over " +
                                  "the " + std::to_string(kMaxTextBytes) +
                                  " a text of the payload record may have");
    if (!IsValidUtf8(text))
        return Fail(problems, label + " " + QuoteName(text) + " is not valid UTF-8");
    if (HasControlCharacter(text))
        return Fail(problems, label + " " + QuoteName(text) + " holds a control character");
    return true;
}

void SetPayloadRecord(const PayloadRecord& record, const std::vector<PayloadPart>& parts,
                      const std::vector<RecordText>& texts, std::vector<Resource>* list) {
    std::vector<Resource> kept;
    for (Resource& r : *list)
        if (!IsRecord(r))
            kept.push_back(std::move(r));
    PayloadRecord written = record;
    written.laterParts = static_cast<uint32_t>(parts.size());
    // By tag, whatever the order of the options: the same choices make the same bytes.
    std::vector<PayloadText> byTag;
    for (const RecordText& t : texts)
        byTag.push_back({t.tag, t.text.c_str()});
    std::sort(byTag.begin(), byTag.end(),
              [](const PayloadText& a, const PayloadText& b) { return a.tag < b.tag; });
    std::vector<unsigned char> bytes(
        PayloadRecordSize(written.laterParts, byTag.data(), byTag.size()));
    WritePayloadRecord(written, parts.data(), byTag.data(), byTag.size(), bytes.data());
    Resource r;
    r.type = NumberId(kTypeRcdata);
    r.name = NumberId(kPayloadRecordId);
    r.language = NumberId(0);
    r.data.assign(bytes.begin(), bytes.end());
    InsertResource(&kept, std::move(r));
    list->swap(kept);
}

const Resource* FindPayloadRecord(const std::vector<Resource>& list) {
    for (const Resource& r : list)
        if (IsRecord(r))
            return &r;
    return nullptr;
}

// Checks that the bytes record covers lie in file and are the cabinet, and match its digest.
// False after appending why not.
static bool VerifyRecord(const Source& file, const PayloadRecord& record, const PayloadPlace& place,
                         Problems* problems) {
    const uint64_t available = file.size > place.offset ? file.size - place.offset : 0;
    const std::string covered = std::to_string(record.payloadSize) + " bytes";
    if (record.payloadSize > available)
        return Fail(problems, "payload record: its " + covered + " of payload run past the end " +
                                  "of the file, which holds " + std::to_string(available));
    uint32_t crc = 0;
    Problems digest;
    if (!DigestPayload(SubSource(file, place.offset, record.payloadSize), &crc, &digest)) {
        AppendProblems(problems, digest, "payload digest: ");
        return false;
    }
    if (crc != record.crc32c)
        return Fail(problems, "payload digest: CRC-32C " + HexDigits(crc, 8) + " over " + covered +
                                  " does not match the record's " + HexDigits(record.crc32c, 8) +
                                  ": the payload was changed after packing");
    if (place.cabinetSize != 0 && record.payloadSize != place.cabinetSize)
        return Fail(problems, "payload record: it covers " + covered + ", the cabinet holds " +
                                  std::to_string(place.cabinetSize));
    return true;
}

// Appends a line for each of record's texts that sfxpack knows, escaped.
static void DescribeRecordTexts(const PayloadRecord& record, std::vector<std::string>* lines) {
    for (const auto& known : kTextLabels) {
        const char* text = nullptr;
        size_t length = 0;
        if (PayloadRecordText(record, known.tag, &text, &length))
            lines->push_back(std::string(known.label) + ": " +
                             EscapeText(std::string(text, length)));
    }
}

void DescribePayloadRecord(const Source& file, const std::vector<Resource>& list,
                           const PayloadPlace& place, bool verify, std::vector<std::string>* lines,
                           Problems* problems) {
    const Resource* found = FindPayloadRecord(list);
    if (!found) {
        lines->push_back("payload digest: none (not packed by sfxpack)");
        return;
    }
    PayloadRecord record;
    if (!ReadPayloadRecord(found->data.data(), found->data.size(), &record)) {
        Fail(problems, "payload record: " + std::to_string(found->data.size()) +
                           " bytes that are not a record this sfxpack reads");
        return;
    }
    const std::string verdict =
        verify && VerifyRecord(file, record, place, problems) ? ", matches" : "";
    lines->push_back("payload digest: CRC-32C " + HexDigits(record.crc32c, 8) + " over " +
                     std::to_string(record.payloadSize) + " bytes" + verdict);
    lines->push_back(std::string("progress bar: ") +
                     (record.flags & kRecordProgressBar ? "yes" : "no"));
    if (record.laterParts)
        lines->push_back("later cabinets in the record: " + std::to_string(record.laterParts));
    DescribeRecordTexts(record, lines);
}
