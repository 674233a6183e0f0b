// The reader of a cabinet's header and file table that the checks walk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cab_format.h"
#include "cab_table.h"
#include "cab_writer.h"

namespace {

struct Walk {
    std::vector<std::string> names;
    uint64_t bytes = 0;
};

bool Collect(void* context, const CabTableFile& file) {
    Walk* walk = static_cast<Walk*>(context);
    walk->names.push_back(file.name);
    walk->bytes += file.size;
    return true;
}

void Put32(std::string* cab, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        (*cab)[at + i] = static_cast<char>(value >> (8 * i));
}

// A named set of broken tables: each is refused before any file is handed over.
TEST(CabTableTest, FileTableIsReadWholeOrNotAtAll) {
    std::vector<CabEntry> files(3);
    files[0].name = "a.txt";
    files[1].name = "sub\\b.txt";
    files[2].name = std::string(255, 'n');
    files[0].data = "one";
    files[1].data = "two!";
    files[2].data = "three";
    const std::string good = WriteCab(files);
    const size_t table = static_cast<unsigned char>(good[kCfheadFilesOffset]);
    const size_t lastName = good.find(std::string(255, 'n'));
    struct Case {
        const char* what;
        std::string cab;
        size_t given; // bytes handed to the reader; 0: all
        CabTableResult result;
    } cases[] = {
        {"whole", good, 0, kTableRead},
        {"table cut by the bytes given", good, lastName + 10, kTableNeedMore},
        {"not a cabinet", "MSCX" + good.substr(4), 0, kTableNotCabinet},
        {"files before the folders end", good, 0, kTableDamaged},
        {"files past the declared size", good, 0, kTableDamaged},
        {"name without its terminator", good.substr(0, good.size()), 0, kTableDamaged},
    };
    Put32(&cases[3].cab, kCfheadFilesOffset, kCfheadSizeof);
    Put32(&cases[4].cab, kCfheadCabinetSize, static_cast<uint32_t>(table + 20));
    cases[5].cab[lastName + 255] = 'n'; // 256 name bytes and no NUL
    for (const Case& c : cases) {
        Walk walk;
        CabTableHeader header = {};
        size_t needed = 0;
        const size_t given = c.given ? c.given : c.cab.size();
        const CabTableResult result =
            ReadCabTable(reinterpret_cast<const unsigned char*>(c.cab.data()), given, &header,
                         &needed, Collect, &walk);
        EXPECT_EQ(result, c.result) << c.what;
        if (result == kTableRead) {
            EXPECT_EQ(walk.names,
                      (std::vector<std::string>{"a.txt", "sub\\b.txt", std::string(255, 'n')}));
            EXPECT_EQ(walk.bytes, 12u);
            EXPECT_EQ(header.cabinetSize, good.size());
        } else {
            EXPECT_TRUE(walk.names.empty()) << c.what;
        }
        if (result == kTableNeedMore) {
            EXPECT_GT(needed, given) << c.what;
            EXPECT_LE(needed, good.size()) << c.what;
        }
    }
}

} // namespace
