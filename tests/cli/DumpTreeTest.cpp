// The command line's tree, which keeps element lines as their parts, writes every unit's
// tree as the window's tree holds it in text: every unit of every test stream, decoded
// with its slice headers, SEI messages and bit positions, and the same with bytes changed.

#include "cli/DumpTree.h"
#include "cli/DumpOutput.h"
#include "cli/JsonTree.h"
#include "stream/FileStream.h"
#include "support/TestSupport.h"
#include "model/SetStore.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

namespace {

// The tree of the unit at offset in tree, found as the window finds it.
template <class Tree>
void Decode(const std::vector<std::uint8_t>& bytes, std::int64_t offset, FileStream& stream,
            Tree& tree) {
    TSetStore sets(&stream);
    sets.LookBackFrom(offset);
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

// Lines no stream gives: labels past their width or far short of it, widths past the
// usual ones, escapes, a line longer than the buffer's room and than a block of text,
// levels deeper than the blanks written at once, and more lines than a chunk holds. The
// tree with element lines as text (which the window keeps) is the answer for the text;
// for the JSON, the same tree holding each line as text, which reads its parts back out.
TEST(DumpTree, HandPickedLinesAsTheTextTreeHoldsThem) {
    struct TCase {
        std::string Label;
        std::size_t Width;
        std::string Value;
        int Bits;
        std::string Meaning;
    };
    const TCase cases[] = {
        {"nal_unit_type", kNalHeaderLabelWidth, "5", 5, "Coded slice of an IDR picture"},
        {"a_label_longer_than_the_width_it_is_given_here", 39, "-12", kVariableBits, ""},
        {"x", 150, "1", 1, ""},
        {"wide", 39, "4294967295", 63, ""},
        {"wider", 39, "7", 64, "m"},
        {"widest", 39, "0", 0x7FFFFFFE, ""},
        {"escaped", 39, "a\"b\\c\x01\xE9", 8, "\x7F"},
        {"", 0, "", 2, ""},
        {"long", 39, std::string(5000, '9'), 16, std::string(70000, 'm')},
    };
    TSyntaxTree window;
    TDumpTree parts;
    TDumpTree asText;
    for (int round = 0; round < 2; ++round) { // the second over the room the first left
        std::vector<ITreeLines*> trees{&window, &parts, &asText};
        std::vector<TTreeLine> above;
        for (ITreeLines* tree : trees) {
            tree->ClearLines();
            above.push_back(tree->AddRootLine("NAL"));
        }
        std::string text;
        // First bits that step a little, across a tenfold (99999 to 100000 from the unit's
        // 37280), and now and then back: the JSON's digits are carried from line to line.
        std::int64_t firstBit = 62700;
        std::string firstBits;
        for (int line = 0; line < 700; ++line) {
            firstBit += line % 97 == 96 ? -5000 : line % 13;
            firstBits += std::to_string(8 * 0x1234 + firstBit) + ' ';
            const TCase& c = cases[static_cast<std::size_t>(line) % std::size(cases)];
            const TElementLine element{c.Label, c.Width, c.Value, c.Bits, c.Meaning};
            ElementLineText(text, element);
            const bool deeper = line % 17 == 0 && line < 600; // down to 72 levels
            for (std::size_t t = 0; t < trees.size(); ++t) {
                const TTreeLine added = t == 1 ? parts.AddElementLine(above[t], element)
                                               : trees[t]->AddChildLine(above[t], text);
                dynamic_cast<ILineBits&>(*trees[t]).LineBits(
                    added, firstBit, line % 37 == 0 ? 1000 + line : line % 9);
                if (deeper) {
                    above[t] = trees[t]->AddChildLine(added, "structure( )");
                }
            }
        }
        std::ostringstream out;
        TLineBuffer lines(out);
        AppendTreeText(parts, 0, std::int64_t{0x1234}, lines);
        lines.Drain();
        ASSERT_EQ(out.str(), Text(window, 0x1234)) << "round " << round;
        std::ostringstream json;
        std::ostringstream jsonAsText;
        TLineBuffer jsonLines(json);
        TLineBuffer jsonLinesAsText(jsonAsText);
        TJsonTreeWriter(jsonLines).Line(*parts.Roots().front(), 0x1234);
        TJsonTreeWriter(jsonLinesAsText).Line(*asText.Roots().front(), 0x1234);
        jsonLines.Drain();
        jsonLinesAsText.Drain();
        ASSERT_EQ(json.str(), jsonAsText.str()) << "round " << round;
        std::string written;
        const std::string all = json.str();
        const std::regex first("\"first_bit\":([0-9]+)");
        for (std::sregex_iterator at(all.begin(), all.end(), first), end; at != end; ++at) {
            written += (*at)[1].str() + ' ';
        }
        ASSERT_EQ(written, firstBits) << "round " << round;
    }
}

} // namespace
