// Reading a cabinet's start for the checks: what a short, failing or foreign source becomes,
// the same wherever the cabinet is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "cab_source.h"
#include "cab_writer.h"

namespace {

// A cabinet in memory whose reads can be made to fail.
struct MemorySource {
    std::string bytes;
    size_t at = 0;
    bool failReads = false;
};

bool RewindMemory(void* self) {
    static_cast<MemorySource*>(self)->at = 0;
    return true;
}

int ReadMemory(void* self, void* buf, unsigned count) {
    MemorySource* m = static_cast<MemorySource*>(self);
    if (m->failReads)
        return -1;
    const size_t n = std::min<size_t>(count, m->bytes.size() - m->at);
    memcpy(buf, m->bytes.data() + m->at, n);
    m->at += n;
    return static_cast<int>(n);
}

TEST(CabSourceTest, DeclaredSizeTellsACutOrFailedReadFromNoCabinet) {
    CabEntry entry;
    entry.name = "a.txt";
    entry.data = "some text";
    const std::string cab = WriteCab({entry});
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t length; // what the source says it holds
        bool failReads;
        int code;
    } cases[] = {
        {"whole", cab, cab.size(), false, 0},
        {"nothing appended", "", 0, false, FDIERROR_NOT_A_CABINET},
        {"no signature", std::string(100, 'x'), 100, false, FDIERROR_NOT_A_CABINET},
        {"cut after the header", cab.substr(0, 40), 40, false, CAB_ERROR_INCOMPLETE},
        {"a read that fails", cab, cab.size(), true, CAB_ERROR_INCOMPLETE},
    };
    for (const Case& c : cases) {
        MemorySource memory{c.bytes, 0, c.failReads};
        const CabSource source = {c.length, RewindMemory, ReadMemory, &memory};
        uint32_t size = 0;
        EXPECT_EQ(ReadOutcomeCode(DeclaredSize(source, &size)), c.code) << c.what;
        if (c.code == 0) {
            EXPECT_EQ(size, cab.size()) << c.what;
        }
    }
}

} // namespace
