// Fuzzes the stub's reader of a cabinet's header and file table. Any bytes, cut anywhere: it
// reads nothing outside the bytes given (AddressSanitizer on an exact-size copy), a request
// for more always asks for more and never for more than the cabinet says it has, and what it
// hands over lies inside the bytes given and is terminated there.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cab_table.h"

static void Require(bool property) {
    if (!property)
        abort();
}

struct Given {
    const unsigned char* begin;
    const unsigned char* end;
    unsigned visited = 0;
};

// A name inside the bytes, terminated before their end.
static bool Inside(const Given& g, const char* name) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    return p >= g.begin && p < g.end && memchr(p, 0, static_cast<size_t>(g.end - p)) != nullptr;
}

static bool Visit(void* context, const CabTableFile& file) {
    Given* g = static_cast<Given*>(context);
    Require(Inside(*g, file.name));
    ++g->visited;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (size_t given : {size, size / 2, size < 64 ? size : size_t{64}}) {
        std::vector<unsigned char> bytes(data, data + given);
        Given g = {bytes.data(), bytes.data() + given};
        CabTableHeader header = {};
        size_t needed = 0;
        const CabTableResult r = ReadCabTable(bytes.data(), given, &header, &needed, Visit, &g);
        if (r == kTableNeedMore) {
            Require(needed > given);
            Require(given < kCfheadSizeof || needed <= header.cabinetSize);
        }
        if (r == kTableRead)
            Require(g.visited == header.fileCount && header.namesRead);
        if (header.namesRead && header.nextName)
            Require(Inside(g, header.nextName));
    }
    return 0;
}
