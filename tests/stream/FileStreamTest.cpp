#include "stream/FileStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

TEST(FileStream, ReadsAtSixtyFourBitOffsetsOfASparseFile) {
    TempDir dir;
    const auto path = (dir.Path() / "big.264").string();
    const std::int64_t size = (std::int64_t{5} << 30) + 7; // past 4 GiB, no disk used
    { std::ofstream out(path, std::ios::binary); }
    ResizeSparse(path, size);
    {
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(size - 3));
        out.write("\x01\x02\x03", 3);
    }
    FileStream stream;
    ASSERT_TRUE(stream.Open(path));
    EXPECT_EQ(stream.Size(), size);
    std::uint8_t buffer[8] = {};
    stream.Seek(size - 5);
    EXPECT_EQ(stream.Read(buffer, 8), 5);
    EXPECT_EQ(stream.Position(), size);
    EXPECT_EQ(buffer[2], 1);
    EXPECT_EQ(buffer[4], 3);
    stream.Seek(size + 100);
    EXPECT_EQ(stream.Read(buffer, 8), 0);
    // A read at a position leaves the position where it was: the read ahead shares the file.
    std::uint8_t at[8] = {};
    EXPECT_EQ(stream.ReadAt(size - 4, at, 8), 4);
    EXPECT_EQ(at[1], 1);
    EXPECT_EQ(at[3], 3);
    EXPECT_EQ(stream.Position(), size + 100);
}

TEST(FileStream, OpensReadOnlyAndRefusesWhatIsNoFile) {
    TempDir dir;
    const auto path = dir.Write("a.264", Hex("00 00 01 09 F0"));
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    FileStream stream;
    EXPECT_TRUE(stream.Open(path));
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists((dir.Path() / "missing.264").string()));
    EXPECT_FALSE(FileExists(dir.Path().string()));
    FileStream folder;
    EXPECT_FALSE(folder.Open(dir.Path().string()));
    EXPECT_FALSE(folder.IsOpen());
    EXPECT_FALSE(folder.Open((dir.Path() / "missing.264").string()));
    std::uint8_t b = 0;
    EXPECT_THROW(folder.Read(&b, 1), std::logic_error);
    EXPECT_THROW(stream.Seek(-1), std::invalid_argument);
}

#ifndef _WIN32
#include <sys/stat.h>

// What cannot be read at any offset is refused at once, with the reason: a pipe with no
// writer must not hang the open.
TEST(FileStream, RefusesPipesAndDevicesWithAReason) {
    TempDir dir;
    const auto fifo = (dir.Path() / "fifo.264").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto missing = (dir.Path() / "missing.264").string();
    struct Case {
        std::string path;
        std::string error;
    };
    const Case cases[] = {
        {fifo, fifo + " is not a regular file: Quillet needs a file it can read at any offset"},
        {"/dev/null",
         "/dev/null is not a regular file: Quillet needs a file it can read at any offset"},
        {dir.Path().string(), "Cannot open " + dir.Path().string() + ": Is a directory"},
        {missing, "Cannot open " + missing + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        FileStream stream;
        EXPECT_FALSE(stream.Open(c.path)) << c.path;
        EXPECT_FALSE(stream.IsOpen()) << c.path;
        EXPECT_EQ(stream.OpenError(), c.error) << c.path;
    }
}
#endif
