// The detail tree's picture nodes of every reference slice of the picture streams, each
// walked on its own from the IDR picture before it: the buffer after its marking equals
// ffmpeg's references after that picture (pictures/NAME.dpb, one line per reference
// picture in decoding order).

#include "model/PictureAt.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace {

// The slices of a stream, found here by their start codes alone: offset (of a four-byte
// start code where it has one) and header byte. Each picture of these streams is one slice.
std::vector<std::pair<std::int64_t, std::uint8_t>> Slices(const std::vector<std::uint8_t>& b) {
    std::vector<std::pair<std::int64_t, std::uint8_t>> slices;
    for (std::size_t i = 0; i + 3 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            const std::uint8_t header = b[i + 3];
            if ((header & 0x1F) == 1 || (header & 0x1F) == 5) {
                slices.emplace_back(i > 0 && b[i - 1] == 0 ? i - 1 : i, header);
            }
        }
    }
    return slices;
}

// The buffer after the marking as ffmpeg writes it, "fn/poc" and "idx/poc", each sorted.
using TRefs = std::pair<std::multiset<std::string>, std::multiset<std::string>>;

TRefs After(const std::vector<TPictureAtLine>& lines, std::int64_t constant, std::int64_t& poc) {
    TRefs refs;
    bool in = false;
    for (const TPictureAtLine& line : lines) {
        if (line.Depth < 2) {
            in = line.Text.rfind("after its marking", 0) == 0;
            continue;
        }
        if (!in || line.Text.find("not for reference") != std::string::npos) {
            continue;
        }
        std::istringstream words(line.Text);
        std::string name, number, pocWord;
        words >> name >> number >> pocWord >> poc;
        const std::int64_t value = std::stoll(number);
        const bool gap = line.Text.find("inserted for a gap") != std::string::npos;
        (name == "LongTermFrameIdx" ? refs.second : refs.first)
            .insert(std::to_string(value) + "/" + (gap ? "?" : std::to_string(poc + constant)));
    }
    return refs;
}

TRefs Ffmpeg(const std::string& line, std::int64_t& poc) {
    TRefs refs;
    std::istringstream in(line);
    bool longTerm = false;
    for (std::string word; in >> word;) {
        if (word == "S" || word == "L") {
            longTerm = word == "L";
        } else {
            (longTerm ? refs.second : refs.first).insert(word);
            poc = word.back() != '?' ? std::stoll(word.substr(word.find('/') + 1)) : poc;
        }
    }
    return refs;
}

TEST(PictureAt, EachReferenceSliceShowsTheBufferFfmpegKeeps) {
    for (const std::string name :
         {"ref4_normal", "ref16_strict", "weightp", "bframes16", "interlaced", "lost_reference"}) {
        SCOPED_TRACE(name);
        const std::string path = TestDataPath("pictures/" + name + ".264");
        FileStream stream;
        ASSERT_TRUE(stream.Open(path));
        std::ifstream answers(TestDataPath("pictures/" + name + ".dpb"));
        std::int64_t constant = 0;
        std::size_t compared = 0;
        for (const auto& [offset, header] : Slices(ReadAll(path))) {
            if ((header & 0x60) == 0) {
                continue;
            }
            SCOPED_TRACE(offset);
            std::string line;
            ASSERT_TRUE(std::getline(answers, line));
            const std::vector<TPictureAtLine> lines = PictureLinesAt(stream, offset);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0].Text.find("not known"), std::string::npos) << lines[0].Text;
            std::int64_t theirs = 0;
            std::int64_t ours = 0;
            const TRefs expected = Ffmpeg(line, theirs);
            if ((header & 0x1F) == 5) {
                After(lines, 0, ours); // ffmpeg's constant for the sequence: the IDR's count
                constant = theirs - ours;
            }
            EXPECT_EQ(After(lines, constant, ours), expected);
            ++compared;
        }
        std::string rest;
        EXPECT_FALSE(std::getline(answers, rest)) << "ffmpeg marked more pictures";
        EXPECT_GE(compared, 4u);
    }
}

// ref1's parameter sets, then its pictures from the fourth on, hold no IDR picture until
// its next one: the slices
// before that say on both nodes' lines that they are not exact; the one after it does not.
TEST(PictureAt, AStartThatIsNotAnIdrPictureIsSaid) {
    const std::vector<std::uint8_t> whole = ReadAll(TestDataPath("pictures/ref1.264"));
    const auto slices = Slices(whole);
    ASSERT_GT(slices.size(), 16u);
    const TempDir dir;
    const std::int64_t sets = slices[0].first;
    const std::int64_t from = slices[3].first - sets;
    std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(sets));
    cut.insert(cut.end(), whole.begin() + static_cast<std::ptrdiff_t>(slices[3].first),
               whole.end());
    FileStream stream;
    ASSERT_TRUE(stream.Open(dir.Write("cut.264", cut)));
    for (std::size_t i = 4; i < slices.size(); ++i) {
        const bool afterIdr = i >= 15; // keyint 15: the second IDR picture is the 16th
        ASSERT_EQ((slices[i].second & 0x1F) == 5, i == 15);
        const std::vector<TPictureAtLine> lines = PictureLinesAt(stream, slices[i].first - from);
        std::size_t unsure = 0;
        for (const TPictureAtLine& line : lines) {
            unsure += line.Depth == 0 &&
                      line.Text.find(" (not exact: no IDR picture within 64 "
                                     "MiB before, the walk began at 0x0") != std::string::npos;
        }
        EXPECT_EQ(unsure, afterIdr ? 0u : 2u) << i;
    }
    // A bound nearer than the IDR picture is said on the node's line.
    FileStream uncut;
    ASSERT_TRUE(uncut.Open(TestDataPath("pictures/ref1.264")));
    const std::vector<TPictureAtLine> bounded = PictureLinesAt(uncut, slices[6].first, 1000);
    EXPECT_NE(bounded[0].Text.find("(not exact: no IDR picture within 1000 bytes before"),
              std::string::npos)
        << bounded[0].Text;
}

} // namespace
