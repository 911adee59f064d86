// The command line's tree, which keeps element lines as their parts, writes every unit's
// tree as the window's tree holds it in text: every unit of every test stream, decoded
// with its slice headers, SEI messages and bit positions, and the same with bytes changed.

#include "cli/DumpTree.h"
#include "cli/DumpOutput.h"
#include "stream/FileStream.h"
#include "support/TestSupport.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

// The tree of the unit at offset in tree, found as the window finds it.
template <class Tree>
void Decode(const std::vector<std::uint8_t>& bytes, std::int64_t offset, FileStream& stream,
            Tree& tree) {
    TParameterSetFinder finder(stream);
    TGoverningSets sets(finder, offset);
    const TFullDecoding full{&sets, &tree};
    std::vector<std::uint8_t> rbsp(bytes.size());
    TBitStream4 reader;
    DecodeNalUnit(bytes.data() + offset, static_cast<std::int32_t>(bytes.size() - offset),
                  rbsp.data(), reader, tree, {}, nullptr, &full);
}

// The text tree as quillet-dump writes it: two blanks a level, each line's bit position.
std::string Text(const TSyntaxTree& tree, std::int64_t offset) {
    std::string text;
    tree.Walk([&](const TSyntaxLine& line, int depth) {
        text.append(static_cast<std::size_t>(2 * depth), ' ');
        text += line.Text;
        if (line.FirstBit >= 0) {
            char position[kBitPositionMaxSize];
            text.append(position, WriteBitPosition(position, offset, line.FirstBit));
        }
        text += '\n';
    });
    return text;
}

TEST(DumpTree, WritesWhatTheTextTreeHolds) {
    TempDir dir;
    int units = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() != ".264") {
            continue;
        }
        std::vector<std::uint8_t> bytes = ReadAll(entry.path().string());
        for (const bool changed : {false, true}) {
            for (std::size_t i = 0; changed && i < bytes.size(); i += 89) {
                bytes[i] = static_cast<std::uint8_t>(bytes[i] * 31 + 7);
            }
            const std::string path = dir.Write("input.264", bytes);
            FileStream stream;
            ASSERT_TRUE(stream.Open(path));
            for (std::size_t at = 0; at + 3 < bytes.size(); ++at) {
                if (bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 1) {
                    continue;
                }
                TSyntaxTree text;
                TDumpTree parts;
                Decode(bytes, static_cast<std::int64_t>(at), stream, text);
                Decode(bytes, static_cast<std::int64_t>(at), stream, parts);
                std::ostringstream out;
                TLineBuffer lines(out);
                AppendTreeText(parts, 0, static_cast<std::int64_t>(at), lines);
                lines.Drain();
                ASSERT_EQ(out.str(), Text(text, static_cast<std::int64_t>(at)))
                    << entry.path().filename() << (changed ? " changed" : "") << " at " << at;
                ++units;
            }
        }
    }
    EXPECT_GT(units, 500);
}

} // namespace
