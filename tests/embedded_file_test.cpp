// The cabinet appended to this very test executable, served through the library callbacks.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver.h"
#include "embedded_file.h"
#include "stream_callbacks.h"
#include "test_util.h"

namespace {

class EmbeddedFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_hInstance = GetModuleHandleW(nullptr);
        CurrentLane()->selfFile = nullptr;
        CurrentLane()->selfFileRefs = 0;
        CabStreamState& state = StreamState();
        CurrentLane()->map.Clear();
        strcpy(state.cabName, "exe");
        state.keyLength = 0;
        cab_ = ReadBytes(ExeDir() + "\\fixtures\\embedded.cab");
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof(self));
        selfSize_ = ReadBytes(self).size();
    }
    void TearDown() override {
        StreamState().keyLength = 0;
        EXPECT_EQ(CurrentLane()->selfFileRefs, 0) << "a test left an embedded handle open";
    }

    // Reads the whole embedded cabinet through CabRead in chunks of the given size.
    std::string ReadAll(INT_PTR h, UINT chunk) {
        std::string out;
        std::vector<char> buf(chunk);
        UINT n;
        while ((n = CabRead(h, buf.data(), chunk)) > 0 && n != static_cast<UINT>(-1))
            out.append(buf.data(), n);
        return out;
    }

    std::string cab_;
    size_t selfSize_ = 0;
};

TEST_F(EmbeddedFileTest, CabinetStartsAtTheLargestEndOfSectionData) {
    ASSERT_GT(cab_.size(), 1000u);
    EXPECT_EQ(GetOverlayOffset(), selfSize_ - cab_.size());
    INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY | _O_BINARY, 0);
    ASSERT_NE(h, -1);
    auto* file = reinterpret_cast<EmbeddedCabFile*>(h);
    EXPECT_EQ(file->reserved, 0);
    EXPECT_EQ(file->position, 0);
    EXPECT_EQ(static_cast<size_t>(file->length), cab_.size());
    EXPECT_EQ(ReadAll(h, 4096), cab_); // empty key: every byte as stored, "MSCF" included
    EXPECT_EQ(CabClose(h), 0);
}

TEST_F(EmbeddedFileTest, NameIsRecognisedWithoutRegardToCaseAndOnlyWhole) {
    for (const char* name : {"exe", "EXE", "ExE", "eXe"}) {
        INT_PTR h = CabOpen(const_cast<char*>(name), _O_RDONLY | _O_BINARY, 0);
        ASSERT_NE(h, -1) << name;
        EXPECT_EQ(CurrentLane()->map.Find(h), 0) << name;
        EXPECT_EQ(CabClose(h), 0);
        EXPECT_EQ(CurrentLane()->map.count, 0);
    }
    // These go to the disk, where they do not exist.
    for (const char* name :
         {"C:\\exe", "exe ", ".\\exe", "sub\\exe", "exe.cab", "Z:\\nowhere\\exe"}) {
        INT_PTR h = CabOpen(const_cast<char*>(name), _O_RDONLY | _O_BINARY, 0);
        EXPECT_EQ(h, -1) << name;
        EXPECT_EQ(CurrentLane()->map.count, 0) << name;
        EXPECT_EQ(CurrentLane()->selfFileRefs, 0) << name;
    }
}

TEST_F(EmbeddedFileTest, SeeksStayInsideTheCabinet) {
    INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    ASSERT_NE(h, -1);
    const LONG length = static_cast<LONG>(cab_.size());
    struct Case {
        LONG distance;
        int origin;
        LONG expected; // -1: refused with EBADF, position unchanged
    } cases[] = {
        {length - 1, SEEK_SET, length - 1},
        {length, SEEK_SET, -1},
        {0, SEEK_END, -1},
        {-1, SEEK_END, length - 1},
        {-1, SEEK_SET, -1},
        {10, SEEK_SET, 10},
        {5, SEEK_CUR, 15},
        {-16, SEEK_CUR, -1},
        {-15, SEEK_CUR, 0},
        {3, 3, -1},
        {-length, SEEK_END, 0},
        {-length - 1, SEEK_END, -1},
    };
    LONG position = 0;
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(SeekCabFile(h, c.distance, c.origin), c.expected)
            << c.distance << " from " << c.origin;
        if (c.expected == -1) {
            EXPECT_EQ(errno, EBADF);
        } else {
            position = c.expected;
        }
        EXPECT_EQ(reinterpret_cast<EmbeddedCabFile*>(h)->position, position);
    }
    EXPECT_EQ(CabClose(h), 0);
}

TEST_F(EmbeddedFileTest, ReadPastTheEndReturnsWhatRemainsThenNothing) {
    INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    ASSERT_NE(h, -1);
    const LONG length = static_cast<LONG>(cab_.size());
    ASSERT_EQ(CabSeek(h, length - 10, SEEK_SET), length - 10);
    char buf[100];
    EXPECT_EQ(CabRead(h, buf, sizeof(buf)), 10u);
    EXPECT_EQ(std::string(buf, 10), cab_.substr(cab_.size() - 10));
    EXPECT_EQ(CabRead(h, buf, sizeof(buf)), 0u);
    EXPECT_EQ(reinterpret_cast<EmbeddedCabFile*>(h)->position, length);
    EXPECT_EQ(CurrentLane()->map.Get(0), length);
    EXPECT_EQ(CabClose(h), 0);
}

TEST_F(EmbeddedFileTest, TwoHandlesKeepSeparatePositionsOnOneStream) {
    INT_PTR a = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    INT_PTR b = CabOpen(const_cast<char*>("EXE"), _O_RDONLY, 0);
    ASSERT_NE(a, -1);
    ASSERT_NE(b, -1);
    FILE* stream = CurrentLane()->selfFile;
    EXPECT_EQ(CurrentLane()->selfFileRefs, 2);
    char x[8], y[8];
    ASSERT_EQ(CabSeek(b, 100, SEEK_SET), 100);
    ASSERT_EQ(CabRead(a, x, 8), 8u);
    ASSERT_EQ(CabRead(b, y, 8), 8u);
    EXPECT_EQ(std::string(x, 8), cab_.substr(0, 8));
    EXPECT_EQ(std::string(y, 8), cab_.substr(100, 8));
    ASSERT_EQ(CabRead(a, x, 8), 8u);
    EXPECT_EQ(std::string(x, 8), cab_.substr(8, 8));
    EXPECT_EQ(CabClose(a), 0);
    EXPECT_EQ(CurrentLane()->selfFile, stream); // still open for b
    EXPECT_EQ(CurrentLane()->selfFileRefs, 1);
    ASSERT_EQ(CabRead(b, y, 8), 8u);
    EXPECT_EQ(std::string(y, 8), cab_.substr(108, 8));
    EXPECT_EQ(CabClose(b), 0);
    EXPECT_EQ(CurrentLane()->selfFile, nullptr);
    INT_PTR c = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0); // reopens the stream
    ASSERT_NE(c, -1);
    EXPECT_NE(CurrentLane()->selfFile, nullptr);
    EXPECT_EQ(CabClose(c), 0);
}

TEST_F(EmbeddedFileTest, HundredAndFirstOpenFailsWithoutLeakingAReference) {
    std::vector<INT_PTR> handles;
    for (int i = 0; i < CMap::kCapacity; ++i) {
        INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
        ASSERT_NE(h, -1) << i;
        handles.push_back(h);
    }
    EXPECT_EQ(CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0), -1);
    EXPECT_EQ(CurrentLane()->selfFileRefs, CMap::kCapacity);
    EXPECT_EQ(CurrentLane()->map.count, CMap::kCapacity);
    // Close in the middle first: the others keep their order.
    EXPECT_EQ(CabClose(handles[50]), 0);
    EXPECT_EQ(CurrentLane()->map.entries[50].handle, handles[51]);
    handles.erase(handles.begin() + 50);
    for (INT_PTR h : handles)
        EXPECT_EQ(CabClose(h), 0);
    EXPECT_EQ(CurrentLane()->selfFileRefs, 0);
    EXPECT_EQ(CurrentLane()->selfFile, nullptr);
}

TEST_F(EmbeddedFileTest, KeyedReadsGiveTheSameBytesHoweverSplit) {
    CabStreamState& state = StreamState();
    const unsigned char key[] = {0x85, 0x11, 0x42, 0x07, 0xC3};
    memcpy(state.key, key, sizeof(key));
    state.keyLength = sizeof(key);
    std::vector<std::string> results;
    for (UINT chunk : {1u, 7u, 60u, 4096u, 1u << 20}) {
        INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
        ASSERT_NE(h, -1);
        results.push_back(ReadAll(h, chunk));
        EXPECT_EQ(CabClose(h), 0);
    }
    for (const std::string& r : results) {
        ASSERT_EQ(r.size(), cab_.size());
        EXPECT_EQ(r.substr(0, 4), "MSCF");
        EXPECT_EQ(r.substr(4, 56), cab_.substr(4, 56));
        EXPECT_EQ(r.substr(60), results[0].substr(60));
    }
    EXPECT_NE(results[0].substr(60, 200), cab_.substr(60, 200));

    // A chunk that starts at 2 keeps bytes 2 and 3 as stored.
    INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    ASSERT_EQ(CabSeek(h, 2, SEEK_SET), 2);
    char two[2];
    ASSERT_EQ(CabRead(h, two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), cab_.substr(2, 2));
    EXPECT_EQ(CabClose(h), 0);
}

TEST_F(EmbeddedFileTest, FailedSeekMakesTheOffsetUnknownUntilTheNextGoodSeek) {
    CabStreamState& state = StreamState();
    const unsigned char key[] = {3, 1, 4, 1, 5};
    memcpy(state.key, key, sizeof(key));
    state.keyLength = sizeof(key);
    INT_PTR h = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    ASSERT_NE(h, -1);
    ASSERT_EQ(CabSeek(h, 100, SEEK_SET), 100);
    EXPECT_EQ(CabSeek(h, -1, SEEK_SET), -1);
    EXPECT_EQ(CurrentLane()->map.Get(0), -1);
    char buf[16];
    ASSERT_EQ(CabRead(h, buf, 16), 16u); // reads from 100, untransformed, offset stays unknown
    EXPECT_EQ(std::string(buf, 16), cab_.substr(100, 16));
    EXPECT_EQ(CurrentLane()->map.Get(0), -1);
    ASSERT_EQ(CabSeek(h, 100, SEEK_SET), 100);
    EXPECT_EQ(CurrentLane()->map.Get(0), 100);
    ASSERT_EQ(CabRead(h, buf, 16), 16u);
    EXPECT_NE(std::string(buf, 16), cab_.substr(100, 16));
    EXPECT_EQ(CurrentLane()->map.Get(0), 116);
    EXPECT_EQ(CabClose(h), 0);
}

TEST_F(EmbeddedFileTest, DiskFilesGoStraightToTheRuntime) {
    TempDir dir("disk");
    const std::string path = dir / "out.bin";
    WriteBytes(path, "old contents that are longer");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    INT_PTR exe = CabOpen(const_cast<char*>("exe"), _O_RDONLY, 0);
    ASSERT_NE(exe, -1);

    INT_PTR h = CabOpen(const_cast<char*>(path.c_str()), kOutputOpenFlags, kOutputOpenMode);
    ASSERT_GE(h, 0);
    EXPECT_EQ(CurrentLane()->map.count, 1); // disk handles are never recorded
    EXPECT_EQ(CabWrite(h, const_cast<char*>("new"), 3), 3u);
    EXPECT_EQ(CabSeek(h, 0, SEEK_END), 3);
    EXPECT_EQ(CabClose(h), 0);
    EXPECT_EQ(CurrentLane()->map.count, 1);
    EXPECT_EQ(ReadBytes(path), "new");

    INT_PTR r = CabOpen(const_cast<char*>(path.c_str()), _O_RDONLY | _O_BINARY, 0);
    ASSERT_GE(r, 0);
    char buf[8];
    EXPECT_EQ(CabRead(r, buf, sizeof(buf)), 3u);
    EXPECT_EQ(CabClose(r), 0);
    EXPECT_EQ(CabClose(exe), 0);
}

} // namespace
