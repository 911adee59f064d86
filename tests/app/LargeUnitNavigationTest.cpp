// High-bitrate streams: a real encoder's SPS and PPS followed by slices of 400 KB to 100 MB
// (random payload with emulation prevention, so no start code hides inside). Keys and the
// bar must move through the whole file, every row must show its unit's true length, and
// no step may read more than its bound.

#include "app/Unit1.h"
#include "support/FakeWindow.h"
#include "support/NavigationOracle.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace {

constexpr std::int64_t MiB = 1 << 20;

struct Unit {
    std::int64_t Offset;
    std::int64_t Len;
    bool operator==(const Unit&) const = default;
};

// Builds a stream in a file and keeps its own listing of what it wrote.
class StreamWriter {
  public:
    explicit StreamWriter(const std::string& path) : FOut(path, std::ios::binary), FPath(path) {}

    void Raw(const std::vector<std::uint8_t>& unit) {
        Units.push_back({FSize, static_cast<std::int64_t>(unit.size())});
        Write(unit);
    }
    // A slice of about size bytes: start code, header, random payload as an encoder would
    // escape it, and a last byte holding the stop bit.
    void Slice(std::int64_t size, std::uint8_t header, bool fourByte = false,
               bool trailingZeros = false) {
        std::vector<std::uint8_t> unit = {0, 0, 1, header};
        if (fourByte) {
            unit.insert(unit.begin(), 0);
        }
        int zeros = 0;
        while (static_cast<std::int64_t>(unit.size()) < size - 1) {
            const auto b = static_cast<std::uint8_t>(FRandom() & 0xFF);
            if (zeros >= 2 && b <= 3) {
                unit.push_back(3);
                zeros = 0;
            }
            unit.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        unit.push_back(0x80);
        if (trailingZeros) {
            unit.insert(unit.end(), {0, 0});
        }
        Raw(unit);
    }
    // A unit whose payload is a dense run of zeros (no hole): searches must read it.
    void Zeros(std::int64_t size) {
        Units.push_back({FSize, size});
        Write({0, 0, 1, 0x41, 0x9A});
        const std::vector<std::uint8_t> block(1 << 20, 0);
        for (std::int64_t left = size - 6; left > 0;
             left -= static_cast<std::int64_t>(block.size())) {
            Write(std::vector<std::uint8_t>(block.begin(),
                                            block.begin() + std::min<std::int64_t>(left, 1 << 20)));
        }
        Write({0x80});
    }
    // A slice whose payload is mostly a hole in a sparse file.
    void SparseSlice(std::int64_t size) {
        Units.push_back({FSize, size});
        Write({0, 0, 1, 0x41, 0x9A});
        FOut.seekp(FSize + size - 5 - 5);
        FSize += size - 5 - 5;
        Write({0x11, 0x22, 0x33, 0x44, 0x80});
    }
    std::string Close() {
        FOut.close();
        return FPath;
    }

    std::vector<Unit> Units;

  private:
    void Write(const std::vector<std::uint8_t>& bytes) {
        FOut.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        FSize += static_cast<std::int64_t>(bytes.size());
    }
    std::ofstream FOut;
    std::string FPath;
    std::int64_t FSize = 0;
    std::mt19937 FRandom{42};
};

// The SPS and PPS of a real x264 stream, as its independent listing places them.
std::vector<std::vector<std::uint8_t>> RealParameterSets() {
    const std::vector<std::uint8_t> all = ReadAll(TestDataPath("main_cabac.264"));
    std::ifstream nals(TestDataPath("main_cabac.nals"));
    std::vector<std::vector<std::uint8_t>> sets;
    std::size_t offset = 0, len = 0;
    int startCode = 0, type = 0;
    while (nals >> offset >> len >> startCode >> type && sets.size() < 2) {
        sets.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(offset),
                          all.begin() + static_cast<std::ptrdiff_t>(offset + len));
    }
    return sets;
}

// Bytes this process has read from files so far.
std::int64_t BytesReadByProcess() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::int64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

struct Window : TFakeWindow {
    std::int64_t LargestStep = 0;

    explicit Window(int rows) : TFakeWindow(rows, 4) {
        list.OnKeyDown = [this](int key) {
            const std::int64_t before = BytesReadByProcess();
            form->ListView1KeyDown(key);
            LargestStep = std::max(LargestStep, BytesReadByProcess() - before);
        };
    }
    // Index in the listing of each row; -1 for a row that is not a listed unit. A row
    // whose length ends in "+" must fall short of its unit's.
    std::vector<int> RowIndexes(const std::vector<Unit>& units) {
        std::vector<int> indexes;
        for (int i = 0; i < list.Count; ++i) {
            const TReportRow row = Row(i);
            const Unit shown{std::stoll(row.Caption.substr(2), nullptr, 16),
                             std::stoll(row.SubItems[0])};
            const bool open = row.SubItems[0].back() == '+';
            int found = -1;
            for (std::size_t k = 0; k < units.size(); ++k) {
                if (units[k].Offset == shown.Offset &&
                    (open ? shown.Len < units[k].Len : shown.Len == units[k].Len)) {
                    found = static_cast<int>(k);
                }
            }
            indexes.push_back(found);
        }
        return indexes;
    }
};

struct Stream {
    std::string path;
    std::vector<Unit> units;
};

Stream MakeStream(const TempDir& dir, const std::string& name, std::int64_t sliceSize, int slices) {
    StreamWriter w((dir.Path() / name).string());
    for (const auto& set : RealParameterSets()) {
        w.Raw(set);
    }
    for (int i = 0; i < slices; ++i) {
        w.Slice(sliceSize, i == 0 ? 0x65 : 0x41);
    }
    const std::string path = w.Close();
    return {path, w.Units};
}

bool Consecutive(const std::vector<int>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] < 0 || (i > 0 && rows[i] != rows[i - 1] + 1)) {
            return false;
        }
    }
    return !rows.empty();
}

TEST(LargeUnits, KeysWalkThroughTheWholeFileInBothDirections) {
    struct Case {
        std::int64_t sliceSize;
        int slices;
        int rows;
    };
    const Case cases[] = {{400'000, 30, 20}, {3'000'000, 10, 6}, {20'000'000, 5, 3}};
    TempDir dir;
    for (const auto& c : cases) {
        const Stream s = MakeStream(dir, "s.264", c.sliceSize, c.slices);
        const int last = static_cast<int>(s.units.size()) - 1;
        const std::string name = std::to_string(c.sliceSize);
        Window w(c.rows);
        ASSERT_TRUE(w.form->LoadFile(s.path)) << name;
        ASSERT_TRUE(Consecutive(w.RowIndexes(s.units))) << name;
        EXPECT_EQ(static_cast<int>(w.list.Count), std::min(c.rows, last + 1)) << name;

        // Page Down: each page starts right after the one before, to the end.
        int pages = 0;
        while (w.RowIndexes(s.units).back() < last && ++pages < 50) {
            const int before = w.RowIndexes(s.units).back();
            w.list.PressKey(Key::PageDown);
            const std::vector<int> rows = w.RowIndexes(s.units);
            ASSERT_TRUE(Consecutive(rows)) << name << " page " << pages;
            ASSERT_EQ(rows.front(), before + 1) << name << " page " << pages;
        }
        EXPECT_EQ(w.RowIndexes(s.units).back(), last) << name;

        // Up on row 0 steps back one unit at a time to the start.
        w.list.PressKey(Key::Home);
        w.list.PressKey(Key::End);
        for (int first = w.RowIndexes(s.units).front(); first > 0; --first) {
            w.list.Selected = 0;
            w.list.PressKey(Key::Up);
            ASSERT_EQ(w.RowIndexes(s.units).front(), first - 1) << name;
        }
        // Page Up from the end, and Down on the last row from the start.
        w.list.PressKey(Key::End);
        const int endFirst = w.RowIndexes(s.units).front();
        w.list.PressKey(Key::PageUp);
        EXPECT_TRUE(Consecutive(w.RowIndexes(s.units))) << name;
        EXPECT_EQ(w.RowIndexes(s.units).front(), std::max(endFirst - c.rows, 0)) << name;
        w.list.PressKey(Key::Home);
        ASSERT_EQ(w.RowIndexes(s.units).front(), 0) << name;
        w.list.Selected = w.list.Count - 1;
        w.list.PressKey(Key::Down);
        EXPECT_EQ(w.RowIndexes(s.units).front(), 1) << name;

        EXPECT_LE(w.LargestStep, kNavigationReadBound + 5 * MiB) << name;
    }
}

TEST(LargeUnits, PageUpShowsThePageBefore) {
    TempDir dir;
    const Stream s = MakeStream(dir, "s.264", 3'000'000, 10);
    Window w(4);
    ASSERT_TRUE(w.form->LoadFile(s.path));
    w.list.PressKey(Key::End);
    const std::vector<int> end = w.RowIndexes(s.units);
    ASSERT_EQ(end, (std::vector<int>{8, 9, 10, 11}));
    w.list.PressKey(Key::PageUp);
    EXPECT_EQ(w.RowIndexes(s.units), (std::vector<int>{4, 5, 6, 7}));
    w.list.PressKey(Key::PageUp);
    EXPECT_EQ(w.RowIndexes(s.units), (std::vector<int>{0, 1, 2, 3}));
}

// A unit longer than a step may read: its row shows what is known with "+", the keys stop
// at it, and the thumb passes it.
TEST(LargeUnits, AUnitBeyondTheBound) {
    TempDir dir;
    StreamWriter writer((dir.Path() / "sparse.264").string());
    for (const auto& set : RealParameterSets()) {
        writer.Raw(set);
    }
    writer.Slice(1000, 0x65);
    writer.Zeros(100 * MiB);
    writer.Slice(1000, 0x41);
    writer.Slice(1000, 0x41);
    const std::string path = writer.Close();
    const std::vector<Unit>& units = writer.Units;

    Window w(5);
    ASSERT_TRUE(w.form->LoadFile(path));
    // The long unit runs past the bound: its length so far, and a note.
    EXPECT_EQ(w.RowIndexes(units), (std::vector<int>{0, 1, 2, 3}));
    const std::string len = w.Row(3).SubItems[0];
    ASSERT_EQ(len.back(), '+');
    EXPECT_LT(std::stoll(len), units[3].Len);
    EXPECT_GE(std::stoll(len), 60 * MiB);
    // The next step searches on from there and passes it.
    w.list.PressKey(Key::PageDown);
    EXPECT_EQ(w.RowIndexes(units), (std::vector<int>{4, 5}));
    // Back over it: the first press spends its bound in the long unit and says so, the
    // second searches on and reaches the file's start, whose page it lists.
    w.list.PressKey(Key::PageUp);
    EXPECT_EQ(w.RowIndexes(units), (std::vector<int>{4, 5}));
    EXPECT_NE(w.form->NavigationNote.find("Page Up searches on"), std::string::npos);
    w.list.PressKey(Key::PageUp);
    EXPECT_EQ(w.RowIndexes(units), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_LE(w.LargestStep, kNavigationReadBound + 5 * MiB);

    w.bar1.PressTo(static_cast<int>((units[4].Offset - 50) / w.form->ScrollUnit));
    EXPECT_EQ(w.RowIndexes(units), (std::vector<int>{4, 5})) << "the thumb passes it";
}

} // namespace

namespace {

// The files the oracle walks: each a way real files have defeated navigation.
struct OracleFile {
    const char* name;
    std::function<void(StreamWriter&)> write;
    // Places a copy of a real stream at each of these offsets instead (a sparse file).
    std::vector<std::int64_t> copiesAt;
    std::int64_t sparseSize = 0;
};

void WriteGop(StreamWriter& w, std::int64_t idrSize, int slices, std::mt19937& random) {
    for (const auto& set : RealParameterSets()) {
        w.Raw(set);
    }
    w.Slice(idrSize, 0x65);
    for (int i = 0; i < slices; ++i) {
        w.Slice(2000 + static_cast<std::int64_t>(random() % 40000), 0x41);
    }
}

std::string WriteSparse(const std::string& path, const std::vector<std::int64_t>& at,
                        std::int64_t size) {
    const std::vector<std::uint8_t> copy = ReadAll(TestDataPath("main_cabac.264"));
    { std::ofstream out(path, std::ios::binary); }
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::int64_t offset : at) {
        out.seekp(offset);
        out.write(reinterpret_cast<const char*>(copy.data()),
                  static_cast<std::streamsize>(copy.size()));
    }
    out.close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    return path;
}

} // namespace

// Random runs of keys, bar presses, thumb drags, wheel notches and resizes, each page
// checked against the file's units as a plain byte walk finds them.
TEST(NavigationOracle, EveryStepListsTheUnitsTheUserAskedFor) {
    constexpr std::int64_t GiB = std::int64_t{1} << 30;
    const std::vector<OracleFile> files = {
        {"few huge pictures",
         [](StreamWriter& w) {
             for (int i = 0; i < 4; ++i) {
                 for (const auto& set : RealParameterSets()) {
                     w.Raw(set);
                 }
                 w.Slice(17 * MiB, 0x65);
             }
         },
         {},
         0},
        {"huge pictures in GOPs",
         [](StreamWriter& w) {
             std::mt19937 random(7);
             WriteGop(w, 9 * MiB, 20, random);
             WriteGop(w, 3 * MiB, 20, random);
         },
         {},
         0},
        {"dense zeros past the bound",
         [](StreamWriter& w) {
             std::mt19937 random(8);
             WriteGop(w, 100000, 5, random);
             w.Zeros(80 * MiB);
             WriteGop(w, 100000, 3, random);
             w.Zeros(70 * MiB);
         },
         {},
         0},
        {"start codes across every block edge",
         [](StreamWriter& w) {
             // Units whose start codes straddle the edges of 64 KiB, 2 MiB and 5 MiB blocks
             // read from anywhere, three- and four-byte forms, zeros trailing some units.
             std::mt19937 random(9);
             for (const auto& set : RealParameterSets()) {
                 w.Raw(set);
             }
             for (int i = 0; i < 60; ++i) {
                 const std::int64_t sizes[] = {64 * 1024, 2 * MiB, 5 * MiB, 1000};
                 w.Slice(sizes[random() % 4] + static_cast<std::int64_t>(random() % 9) - 4,
                         random() % 2 ? 0x41 : 0x65, random() % 3 == 0, random() % 2 == 0);
             }
         },
         {},
         0},
        {"two units",
         [](StreamWriter& w) {
             w.Raw(RealParameterSets()[0]);
             w.Slice(40 * MiB, 0x65);
         },
         {},
         0},
#if defined(__linux__)
        {"sparse copies with holes between",
         nullptr,
         {0, 2 * GiB, 4 * GiB + 7, 5 * GiB, 16 * GiB, 20 * GiB - 40000},
         20 * GiB},
#endif
    };
    TempDir dir;
    DebugCapture quiet;
    for (const OracleFile& file : files) {
        const std::string path = (dir.Path() / "oracle.264").string();
        std::filesystem::remove(path);
        if (file.write) {
            StreamWriter writer(path);
            file.write(writer);
            writer.Close();
        } else {
            WriteSparse(path, file.copiesAt, file.sparseSize);
        }
        const std::vector<TOracleUnit> units = OracleUnitsOfFile(path);
        std::vector<std::string> faults;
        TNavigationOracle oracle(units, [&](const std::string& what) {
            if (faults.size() < 10) {
                faults.push_back(what);
            }
        });
        // QUILLET_ORACLE_STEPS and QUILLET_ORACLE_SEED make a longer or another run.
        const char* stepsText = std::getenv("QUILLET_ORACLE_STEPS");
        const char* seedText = std::getenv("QUILLET_ORACLE_SEED");
        const int steps = stepsText ? std::atoi(stepsText) : 90;
        std::mt19937 random(static_cast<unsigned>(units.size()) +
                            static_cast<unsigned>(seedText ? std::atoi(seedText) : 0));
        Window w(3 + static_cast<int>(random() % 18));
        ASSERT_TRUE(w.form->LoadFile(path)) << file.name;
        for (int step = 0; step < steps && faults.empty(); ++step) {
            oracle.Step(w, static_cast<TUserStep>(random() % 14),
                        static_cast<std::uint32_t>(random()));
        }
        for (const std::string& fault : faults) {
            ADD_FAILURE() << file.name << ": " << fault;
        }
        w.form->UnloadFile();
    }
}
