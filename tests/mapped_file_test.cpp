// The mapped file: which files map, big-endian reads, and that no read
// leaves the file or view whatever position it is asked for.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "font/mapped_file.h"
#include "support/paths.h"

namespace {

class MappedFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("mapped_file_test." + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string writeBytes(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }

    std::filesystem::path dir;
};

void expectUnmapped(const MappedFile& file)
{
    EXPECT_FALSE(file.isMapped());
    EXPECT_EQ(file.base(), nullptr);
    EXPECT_EQ(file.length(), 0);
}

TEST_F(MappedFileTest, RefusesWhatIsNotAReadableRegularFile)
{
    std::string empty = writeBytes("empty", {});
    std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // One byte short of 2 GiB maps; 2 GiB does not. Sparse, so no disk is used.
    std::string huge = (dir / "huge").string();
    {
        int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t(1) << 31), 0);
        close(fd);
    }
    for (const std::string& path : {empty, (dir / "missing").string(), dir.string(), fifo, huge}) {
        MappedFile file;
        file.openFile(path.c_str());
        SCOPED_TRACE(path);
        expectUnmapped(file);
        EXPECT_EQ(file.readU32(), 0u);
        file.release();
    }
    ASSERT_EQ(truncate(huge.c_str(), (off_t(1) << 31) - 1), 0);
    MappedFile file;
    file.openFile(huge.c_str());
    EXPECT_TRUE(file.isMapped());
    EXPECT_EQ(file.length(), INT32_MAX);
    file.release();
    expectUnmapped(file);
}

TEST_F(MappedFileTest, ReadsBigEndianAtAnyAlignment)
{
    MappedFile file;
    file.openFile(writeBytes("bytes", {0x80, 0x00, 0xFF, 0xFE, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xFF}).c_str());
    ASSERT_TRUE(file.isMapped());
    EXPECT_EQ(file.length(), 10);
    EXPECT_EQ(file.readS16(), -32768);
    EXPECT_EQ(file.tell(), 2);
    EXPECT_EQ(file.readS16(), -2);
    EXPECT_EQ(file.readU32(), 0x12345678u);
    EXPECT_EQ(file.readU8(), 0x9A);
    EXPECT_EQ(file.readS8(), -1);
    file.seek(0);
    EXPECT_EQ(file.readU16(), 32768);
    file.skip(1);
    EXPECT_EQ(file.readU32(), 0xFE123456u);
    file.seek(2);
    EXPECT_EQ(file.readS32(), int32_t(0xFFFE1234));
    EXPECT_EQ(file.u16At(3), 0xFE12);
    EXPECT_EQ(file.s16At(2), -2);
    EXPECT_EQ(file.u32At(6), 0x56789AFFu);
    EXPECT_EQ(file.s8At(9), -1);
    file.release();
}

TEST_F(MappedFileTest, ReadsOutsideTheFileOrViewYieldZero)
{
    MappedFile file;
    file.openFile(writeBytes("bytes", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}).c_str());
    ASSERT_TRUE(file.isMapped());

    // Positional reads: every position that is not wholly inside gives 0.
    struct Case {
        int64_t pos;
        uint32_t u32;
        uint16_t u16;
    };
    for (Case c : {Case{0, 0x01020304, 0x0102}, Case{6, 0x0708090A, 0x0708}, Case{7, 0, 0x0809}, Case{8, 0, 0x090A},
                   Case{9, 0, 0}, Case{10, 0, 0}, Case{-1, 0, 0}, Case{-2, 0, 0}, Case{INT64_MAX - 1, 0, 0},
                   Case{INT64_MIN, 0, 0}, Case{int64_t(1) << 32, 0, 0}}) {
        SCOPED_TRACE(c.pos);
        EXPECT_EQ(file.u32At(c.pos), c.u32);
        EXPECT_EQ(file.u16At(c.pos), c.u16);
    }
    EXPECT_FALSE(file.contains(8, 3));
    EXPECT_TRUE(file.contains(10, 0));
    EXPECT_EQ(file.bytesAt(9, 2), nullptr);

    // A cursor read that does not fit leaves the cursor at the end.
    file.seek(8);
    EXPECT_EQ(file.readU32(), 0u);
    EXPECT_EQ(file.tell(), 10);
    EXPECT_EQ(file.readU8(), 0);
    // Seeks and skips outside the file land at its end, never outside.
    for (int64_t offset : {int64_t(-1), int64_t(11), INT64_MIN, INT64_MAX}) {
        file.seek(offset);
        EXPECT_EQ(file.tell(), 10);
        EXPECT_EQ(file.readU16(), 0);
    }
    file.seek(2);
    file.skip(-3);
    EXPECT_EQ(file.tell(), 10);
    file.seek(2);
    file.skip(INT64_MAX);
    EXPECT_EQ(file.tell(), 10);

    // A view sees only its own bytes, though the file goes on.
    MappedFile view;
    view.makeView(file, 4, 3);
    EXPECT_EQ(view.base(), file.base() + 4);
    EXPECT_EQ(view.readU16(), 0x0506);
    EXPECT_EQ(view.readU16(), 0);
    EXPECT_EQ(view.tell(), 3);
    EXPECT_EQ(view.u8At(2), 7);
    EXPECT_EQ(view.u8At(3), 0);
    EXPECT_EQ(view.u16At(2), 0);
    EXPECT_EQ(view.u16At(-1), 0);

    // A view at offset 0 starts at the mapping; it is never released, and
    // the file's own release unmaps once.
    MappedFile whole;
    whole.makeView(file, 0, 10);
    EXPECT_EQ(whole.base(), file.base());
    file.release();
    expectUnmapped(file);
}

} // namespace
