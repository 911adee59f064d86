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
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
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
