// Packing: a folder or a cabinet behind the stub, as one installer (and the later cabinets of
// its set beside it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "branding/branding.h"
#include "branding/manifest.h"
#include "cab/cab_builder.h"
#include "compress/compression.h"
#include "payload/payload_digest.h"

struct PackRequest {
    std::string input;  // a folder or a cabinet
    std::string output; // the installer to write
    std::string stub;
    TimePolicy times;
    Branding branding;                     // --icon and --version-info
    uint16_t recordFlags = 0;              // the payload record's choices: kRecordProgressBar
    ManifestOptions manifest;              // --execution-level, --supported-os, --dpi-aware, ...
    uint64_t partBytes = kMaxCabinetBytes; // --part-size: the largest cabinet of a set
    Compression compression;               // --compression, --level: a folder's only
    bool compressionGiven = false;         // either was given
    std::vector<RecordText> texts;         // --destination, --setup-args: checked, one per tag
};

// Appends the cabinet of a folder (built here) or an existing cabinet to the stub, whose
// resources get the branding and the payload record, writing the installer through a
// temporary file that is renamed only when everything succeeded. A folder that needs several
// cabinets gets a set: the later cabinets are written beside the installer, in the same way.
// Returns the process exit status.
int Pack(const PackRequest& request);
