#include "cab/archived_entry.h"

#include <ctime>

#include "cab_format.h"
#include "names.h"

// DOS fields from broken-down time, clamped to the years DOS dates can hold.
static DosDateTime FromBrokenDown(const struct tm& tm) {
    DosDateTime d;
    const int year = tm.tm_year + 1900;
    if (year < 1980) {
        d.date = 1 << 5 | 1;
        return d;
    }
    if (year > 2107) {
        d.date = static_cast<uint16_t>(127 << 9 | 12 << 5 | 31);
        d.time = static_cast<uint16_t>(23 << 11 | 59 << 5 | 29);
        return d;
    }
    d.date = static_cast<uint16_t>((year - 1980) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    d.time = static_cast<uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    return d;
}

DosDateTime ToDosDateTime(int64_t t, bool utc) {
    // Far outside the DOS range the breakdown may fail; clamp by direction instead.
    constexpr int64_t kFar = int64_t(200) * 366 * 86400;
    struct tm tm = {};
    if (t < -kFar)
        tm.tm_year = 0;
    else if (t > int64_t(4102444800) + kFar) // 2100 + 200 years
        tm.tm_year = 400;
    else {
        const time_t tt = static_cast<time_t>(t);
        if (!(utc ? gmtime_r(&tt, &tm) : localtime_r(&tt, &tm)))
            tm.tm_year = t < 0 ? 0 : 400;
    }
    return FromBrokenDown(tm);
}

DosDateTime ArchivedTime(int64_t mtime, const TimePolicy& policy) {
    if (policy.hasEpoch)
        return ToDosDateTime(mtime < policy.epoch ? mtime : policy.epoch, true);
    return ToDosDateTime(mtime, false);
}

uint16_t ArchivedAttributes(const SourceFile& f) {
    uint16_t attributes = kAttrArchive;
    if (f.readOnly)
        attributes |= kAttrReadOnly;
    for (char c : f.name) {
        if (static_cast<uint8_t>(c) >= 0x80)
            attributes |= kAttrNameIsUtf8;
    }
    return attributes;
}
