#include "app/Unit1.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

constexpr std::int64_t MiB = 1 << 20;

struct LoadedForm {
    FakeReportList list;
    TForm1 form{TForm1Widgets{&list}};

    LoadedForm(const std::string& path, int rows) {
        list.Rows = rows;
        form.FileName = path;
        form.Stream = std::make_unique<FileStream>();
        EXPECT_TRUE(form.Stream->Open(path));
    }
    std::vector<std::pair<std::int64_t, std::int32_t>> Units() const {
        std::vector<std::pair<std::int64_t, std::int32_t>> units;
        for (std::int32_t i = 0; i < form.LocatorCount; ++i) {
            units.emplace_back(form.Locators[i].Offset, form.Locators[i].Len);
        }
        return units;
    }
};

std::vector<std::uint8_t> Bytes(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

std::vector<std::uint8_t> Filler(std::int64_t size) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(size), 0xFF);
}

// Start codes at 0 (4-byte, SPS), 10 (3-byte, PPS), 16 (3-byte, AUD) and 22 (4-byte, IDR,
// after the AUD's trailing zero at 21). 30 bytes.
const char* const kSmall = "00 00 00 01 67 42 00 1E AB CD"
                           " 00 00 01 68 CE 38"
                           " 00 00 01 09 F0 00"
                           " 00 00 00 01 65 88 84 21";

TEST(RefreshPosition, ListsThePageFromTheWindowStart) {
    struct Case {
        const char* name;
        std::int64_t start;
        int rows;
        std::vector<std::pair<std::int64_t, std::int32_t>> units;
    };
    const Case cases[] = {
        {"whole file fits", 0, 10, {{0, 10}, {10, 6}, {16, 6}, {22, 8}}},
        {"page of two", 0, 2, {{0, 10}, {10, 6}}},
        {"start inside a unit", 3, 10, {{10, 6}, {16, 6}, {22, 8}}},
        {"start on the trailing zero", 21, 10, {{22, 8}}},
        // Its tail 00 00 01 is no start code of its own: the unit began one byte before.
        {"start on the second zero of 00 00 00 01", 23, 10, {}},
        {"past the last start code", 24, 10, {}},
        {"no rows still stores the unit at the start", 10, 0, {{10, 6}}},
        {"no rows and no start code at the start", 11, 0, {}},
    };
    TempDir dir;
    const auto path = dir.Write("s.264", Hex(kSmall));
    for (const auto& c : cases) {
        LoadedForm f(path, c.rows);
        f.form.RefreshPosition(c.start);
        EXPECT_EQ(f.Units(), c.units) << c.name;
        EXPECT_EQ(f.list.Count, f.form.LocatorCount) << c.name;
        EXPECT_EQ(f.form.RowCapacity, c.rows) << c.name;
        // The row count is first opened to a whole page, then brought to what was found.
        EXPECT_EQ(f.list.RowCountHistory,
                  (std::vector<int>{c.rows, static_cast<int>(c.units.size())}))
            << c.name;
    }
    LoadedForm f(path, 10);
    f.form.RefreshPosition(0);
    EXPECT_EQ(f.form.Locators[0].StartCodeWord, 1u);
    EXPECT_EQ(f.form.Locators[0].NalHeader, 0x67);
    EXPECT_EQ(f.form.Locators[1].StartCodeWord, 0x00000168u);
    EXPECT_EQ(f.form.Locators[3].NalHeader, 0x65);
}

TEST(RefreshPosition, BlockLimitsAndTallLists) {
    TempDir dir;
    // A unit longer than the 5 MiB block gets its true length from the reads after it.
    {
        const auto path = dir.Write("long.264", Bytes({Hex("00 00 01 65"), Filler(6 * MiB)}));
        LoadedForm f(path, 5);
        f.form.RefreshPosition(0);
        ASSERT_EQ(f.form.LocatorCount, 1);
        EXPECT_EQ(f.form.Locators[0].Len, 6 * MiB + 4);
        EXPECT_TRUE(f.form.PageReachesEnd);
    }
    // A four-byte start code in the block's last four bytes takes its header from the file.
    {
        const auto path = dir.Write(
            "edge.264", Bytes({Hex("00 00 01 65"), Filler(5 * MiB - 8), Hex("00 00 00 01 67 42")}));
        LoadedForm f(path, 5);
        f.form.RefreshPosition(0);
        ASSERT_EQ(f.form.LocatorCount, 2);
        EXPECT_EQ(f.form.Locators[1].Offset, 5 * MiB - 4);
        EXPECT_EQ(f.form.Locators[1].Len, 6); // to the end of the file, past the block
        EXPECT_EQ(f.form.Locators[1].NalHeader, 0x67);
    }
    // A list taller than the table uses 256 rows.
    {
        std::vector<std::uint8_t> many;
        for (int i = 0; i < 300; ++i) {
            const auto unit = Hex("00 00 01 09 F0");
            many.insert(many.end(), unit.begin(), unit.end());
        }
        LoadedForm f(dir.Write("many.264", many), 1000);
        f.form.RefreshPosition(0);
        EXPECT_EQ(f.form.RowCapacity, 256);
        EXPECT_EQ(f.form.LocatorCount, 256);
        EXPECT_EQ(f.list.Count, 256);
    }
}

TEST(RefreshPosition, WithoutAStreamOnlyTheRowCountFollows) {
    FakeReportList list;
    list.Rows = 7;
    TForm1 form(TForm1Widgets{&list});
    form.LocatorCount = 0;
    form.RefreshPosition(0);
    EXPECT_EQ(list.RowCountHistory, (std::vector<int>{7, 0}));
    form.TableLock.reset();
    form.RefreshPosition(0); // no lock: nothing at all
    EXPECT_EQ(list.RowCountHistory.size(), 2u);
}

TEST(WindowRoutines, AReadFailureIsReportedAndLeavesTheListInStep) {
    DebugCapture capture;
    FakeReportList list;
    list.Rows = 5;
    TForm1 form(TForm1Widgets{&list});
    form.FileName = "gone.264";
    form.Stream = std::make_unique<FileStream>(); // never opened: every use throws
    form.LocatorCount = 3;
    form.RefreshPosition(0);
    EXPECT_EQ(form.LocatorCount, 3); // the page that was there stays
    EXPECT_EQ(list.Count, form.LocatorCount);
    EXPECT_EQ(form.RowCapacity, 5);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{
                                   "kvo: Error in TForm1.RefreshPosition call...",
                               }));
    // The lock was released: another scan can take it.
    EXPECT_TRUE(form.TableLock->try_lock());
    form.TableLock->unlock();
}

// Offsets past 4 GiB in a sparse file: units at 2^32 + 100 and after.
TEST(RefreshPosition, WorksPastFourGiB) {
    TempDir dir;
    const auto path = (dir.Path() / "huge.264").string();
    const std::int64_t base = (std::int64_t{1} << 32) + 100;
    const auto units = Hex("00 00 00 01 67 42 00 1E 00 00 01 68 CE 38 00 00 00 01 65 88 84");
    {
        std::ofstream out(path, std::ios::binary);
        const auto head = Hex("00 00 00 01 09 F0 00 00 01 09 F0");
        out.write(reinterpret_cast<const char*>(head.data()),
                  static_cast<std::streamsize>(head.size()));
    }
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(base));
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(reinterpret_cast<const char*>(units.data()),
                  static_cast<std::streamsize>(units.size()));
    }
    LoadedForm f(path, 10);
    f.form.RefreshPosition(base - 1000);
    EXPECT_EQ(f.Units(), (std::vector<std::pair<std::int64_t, std::int32_t>>{
                             {base, 8}, {base + 8, 6}, {base + 14, 7}}));
}

} // namespace
