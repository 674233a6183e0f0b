// What a packed file's entry records of it besides its name: its DOS date and time, under the
// run's time policy, and its DOS attributes.
#pragma once

#include <cstdint>

#include "payload/folder_scan.h"

struct DosDateTime {
    uint16_t date = 0;
    uint16_t time = 0;
};

// How file times are archived: as local time, or with a SOURCE_DATE_EPOCH, clamped to it
// and broken down in UTC so that the build machine's time zone does not show.
struct TimePolicy {
    bool hasEpoch = false;
    int64_t epoch = 0;
};

// t broken down (in UTC or local time) into DOS fields, with odd seconds rounded down and
// times outside 1980-01-01 00:00:00 .. 2107-12-31 23:59:58 clamped to those ends.
DosDateTime ToDosDateTime(int64_t t, bool utc);

// The DOS time archived for a file modified at mtime under policy.
DosDateTime ArchivedTime(int64_t mtime, const TimePolicy& policy);

// The DOS attributes archived for f: archive, read-only when the owner cannot write it, and
// the UTF-8 name flag when its name is not plain ASCII.
uint16_t ArchivedAttributes(const SourceFile& f);
