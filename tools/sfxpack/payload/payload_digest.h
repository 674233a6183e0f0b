// The payload record in an installer's resources: made from the cabinet when packing, read
// back and verified by --list and --check.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/problems.h"
#include "util/file_io.h"
#include "payload_record.h"
#include "pe/resource_tree.h"

constexpr uint32_t kTypeRcdata = 10;

// The CRC-32C of the whole of payload in *crc. False with a line in *problems when it cannot be
// read.
bool DigestPayload(const Source& payload, uint32_t* crc, Problems* problems);

// One of the author's texts for the record: its tag (kTextDestination, kTextSetupArgs) and
// its UTF-8 text.
struct RecordText {
    uint16_t tag;
    std::string text;
};

// False with one line in *problems, about label, when text cannot be one of the record's
// texts: empty, over kMaxTextBytes, not valid UTF-8, or holding a control character.
bool CheckRecordText(const std::string& label, const std::string& text, Problems* problems);

// Puts record, with the later cabinets parts and texts (checked, tags distinct), into list as
// RT_RCDATA kPayloadRecordId, language neutral, in place of every resource of that type and
// number. Without texts, the record carries neither their flag nor their end mark.
void SetPayloadRecord(const PayloadRecord& record, const std::vector<PayloadPart>& parts,
                      const std::vector<RecordText>& texts, std::vector<Resource>* list);

// The payload record among list, in whatever language, or null.
const Resource* FindPayloadRecord(const std::vector<Resource>& list);

// Where an installer's payload lies, for the record's checks.
struct PayloadPlace {
    uint64_t offset = 0;      // the end of the section data
    uint64_t cabinetSize = 0; // the cabinet's size field; 0 when it could not be read
};

// Appends the lines describing the payload record among list, the resources of the installer
// in file: its digest and size, its choices and texts, or one line saying there is none. With
// verify, the digest of the bytes it covers is computed too; a record that cannot be read,
// covers bytes past the end of file or other than the cabinet, or does not match is a problem.
void DescribePayloadRecord(const Source& file, const std::vector<Resource>& list,
                           const PayloadPlace& place, bool verify, std::vector<std::string>* lines,
                           Problems* problems);
