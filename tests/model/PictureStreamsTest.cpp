// The picture model on every test stream against ffmpeg's own decoder: the references it
// keeps after each marking (pictures/NAME.dpb, from its -debug mmco lines) and the order it
// shows the pictures in (pictures/NAME.order, from ffprobe); the streams made for the
// model are in pictures/ too. And on the same streams, each initial
// reference list against the ordering rules written here from the buffer before the
// picture.

#include "model/PictureWalk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

std::vector<TCodedPicture> Model(const std::string& name) {
    FileStream stream;
    const std::string own = TestDataPath("pictures/" + name + ".264");
    EXPECT_TRUE(stream.Open(std::filesystem::exists(own) ? own : TestDataPath(name + ".264")));
    std::vector<TCodedPicture> pictures;
    TPictureModel model([&](const TCodedPicture& p) { pictures.push_back(p); });
    WalkPictures(stream, model);
    return pictures;
}

std::vector<std::string> Streams() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath("pictures"))) {
        if (entry.path().extension() == ".dpb") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A buffer's references as ffmpeg lists them: short-term "fn/poc", long-term "idx/poc",
// each set sorted; POCs as counted here plus the constant given.
using TRefs = std::pair<std::multiset<std::string>, std::multiset<std::string>>;

TRefs Refs(const std::vector<TBufferEntry>& entries, std::int64_t constant) {
    TRefs refs;
    for (const TBufferEntry& e : entries) {
        if (e.ShortTerm()) {
            // A frame inserted for a gap has no count of its own.
            refs.first.insert(std::to_string(e.FrameNum) + "/" +
                              (e.Exists ? std::to_string(e.Poc + constant) : "?"));
        } else if (e.LongTerm()) {
            refs.second.insert(std::to_string(e.LongTermFrameIdx) + "/" +
                               std::to_string(e.Poc + constant));
        }
    }
    return refs;
}

TRefs Parse(const std::string& line, std::int64_t& firstPoc) {
    TRefs refs;
    std::istringstream in(line);
    std::string word;
    bool longTerm = false;
    while (in >> word) {
        if (word == "S" || word == "L") {
            longTerm = word == "L";
            continue;
        }
        (longTerm ? refs.second : refs.first).insert(word);
        if (word.back() != '?') {
            firstPoc = std::stoll(word.substr(word.find('/') + 1));
        }
    }
    return refs;
}

TEST(PictureStreams, BufferAfterEachMarkingAsFfmpegKeepsIt) {
    for (const std::string& name : Streams()) {
        SCOPED_TRACE(name);
        const std::vector<TCodedPicture> pictures = Model(name);
        std::ifstream answers(TestDataPath("pictures/" + name + ".dpb"));
        std::string line;
        std::int64_t constant = 0;
        std::size_t compared = 0;
        for (const TCodedPicture& p : pictures) {
            if (p.NalRefIdc == 0) {
                continue;
            }
            ASSERT_TRUE(std::getline(answers, line)) << "picture " << p.Decode;
            std::int64_t poc = 0;
            const TRefs expected = Parse(line, poc);
            if (p.Idr) {
                // ffmpeg counts each coded video sequence from its own constant: the
                // IDR picture's count (0 here) tells it.
                constant = poc - p.Count.Poc;
                EXPECT_TRUE(constant == 0 || constant == 65536) << constant;
            }
            EXPECT_EQ(Refs(p.After, constant), expected) << "picture " << p.Decode;
            ++compared;
        }
        EXPECT_FALSE(std::getline(answers, line)) << "ffmpeg marked more pictures";
        EXPECT_GT(compared, 0u);
    }
}

// ref1 without its fourth picture (frame_num 3): the next picture says where the gap is
// and, predicting from the frame inserted for it, is not exact; the rest are.
TEST(PictureStreams, ALostReferenceIsMarkedWhereItIsMissed) {
    const std::vector<TCodedPicture> pictures = Model("lost_reference");
    ASSERT_GT(pictures.size(), 4u);
    for (const TCodedPicture& p : pictures) {
        EXPECT_EQ(p.Exact, p.Decode != 3) << p.Decode;
        EXPECT_EQ(p.Problems.size(), p.Decode == 3 ? 1u : 0u) << p.Decode;
    }
    EXPECT_EQ(pictures[3].Problems[0],
              "frame_num 4 after 2 leaves a gap, which gaps_in_frame_num_value_allowed_flag 0 "
              "forbids");
}

// The streams cut at a recovery point, whose decode ffmpeg made both whole
// (NAME.pictures) and cut (NAME.rp.pictures): a picture the model calls exact in the cut
// stream is the same picture in both decodes; the cut's first pictures, before the
// recovery point has recovered, are not exact.
TEST(PictureStreams, ACutStreamIsExactOnlyWhereItDecodesAsTheWholeOne) {
    const auto checksums = [](const std::string& file, std::int64_t& from) {
        std::map<std::int64_t, std::string> sums;
        std::ifstream in(TestDataPath(file));
        std::string word;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::int64_t pos = 0;
            std::string format, size, type, sum;
            if (line.rfind("from ", 0) == 0) {
                from = std::stoll(line.substr(5));
            } else if (fields >> pos >> format >> size >> type >> sum) {
                sums[pos] = sum;
            }
        }
        return sums;
    };
    const TempDir dir;
    for (const std::string name : {"aud_sei", "intra_refresh"}) {
        SCOPED_TRACE(name);
        std::int64_t from = 0;
        const auto whole = checksums(name + ".pictures", from);
        const auto cut = checksums(name + ".rp.pictures", from);
        const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath(name + ".264"));
        ASSERT_GT(from, 0);
        FileStream stream;
        ASSERT_TRUE(stream.Open(dir.Write(name + ".264", {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()})));
        std::vector<TCodedPicture> pictures;
        TPictureModel model([&](const TCodedPicture& p) { pictures.push_back(p); });
        WalkPictures(stream, model);
        std::size_t exact = 0;
        for (const TCodedPicture& p : pictures) {
            // ffmpeg's position may count the zero byte before a start code.
            const auto find = [&](const std::map<std::int64_t, std::string>& sums) {
                auto at = sums.find(p.Offset + from);
                return at != sums.end() ? at : sums.find(p.Offset + from - 1);
            };
            ASSERT_NE(find(whole), whole.end()) << p.Offset;
            ASSERT_NE(find(cut), cut.end()) << p.Offset;
            if (p.Exact) {
                EXPECT_EQ(find(cut)->second, find(whole)->second) << "picture " << p.Decode;
                ++exact;
            }
        }
        EXPECT_GT(exact, 0u);
        EXPECT_LT(exact, pictures.size() + (name == "aud_sei" ? 1 : 0));
    }
}

TEST(PictureStreams, DisplayOrderAsFfprobeShowsIt) {
    for (const std::string& name : Streams()) {
        SCOPED_TRACE(name);
        const std::vector<TCodedPicture> pictures = Model(name);
        std::ifstream answers(TestDataPath("pictures/" + name + ".order"));
        std::string line;
        ASSERT_TRUE(std::getline(answers, line));
        std::istringstream packetLine(line.substr(line.find(' ')));
        std::vector<std::int64_t> packets;
        for (std::int64_t pos = 0; packetLine >> pos;) {
            packets.push_back(pos);
        }
        // Frames in output order as decoding ranks: ffprobe's packet positions against
        // the model's access units (the two may count a zero byte before one differently).
        std::vector<std::size_t> expected;
        std::vector<std::string> types;
        for (std::int64_t pos = 0; answers >> pos >> line;) {
            expected.push_back(static_cast<std::size_t>(
                std::find(packets.begin(), packets.end(), pos) - packets.begin()));
            types.push_back(line);
        }
        ASSERT_EQ(pictures.size(), packets.size());
        std::vector<std::pair<std::int64_t, std::size_t>> shown;
        for (const TCodedPicture& p : pictures) {
            EXPECT_GE(p.Display, 0) << "picture " << p.Decode;
            shown.emplace_back(p.Display, static_cast<std::size_t>(p.Decode));
            // Only the stream that lost a picture has a problem, and says so where the gap is.
            if (name.rfind("lost_", 0) != 0) {
                EXPECT_TRUE(p.Problems.empty()) << p.Problems.front();
                EXPECT_TRUE(p.Exact);
            }
        }
        std::sort(shown.begin(), shown.end());
        std::vector<std::size_t> actual;
        for (const auto& [display, decode] : shown) {
            actual.push_back(decode);
        }
        EXPECT_EQ(actual, expected);
        for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
            EXPECT_EQ(pictures[actual[i]].Types.substr(0, 1), types[i].substr(0, 1))
                << "picture " << actual[i];
        }
    }
}

// The standard's ordering of an initial list, from the buffer before the picture: a P
// slice takes short-term frames by descending PicNum (frame_num, those above the
// picture's own counting as wrapped below it), then long-term ones by ascending index; a B
// slice takes short-term frames before it by descending POC then those after it by
// ascending POC for list 0, the other way round for list 1, then long-term ones, and
// list 1 swaps its first two when it would equal list 0.
TEST(PictureStreams, InitialListsFollowTheOrderingRules) {
    for (const std::string& name : Streams()) {
        SCOPED_TRACE(name);
        std::size_t checked = 0;
        for (const TCodedPicture& p : Model(name)) {
            if (p.Structure == TPictureStructure::Top || p.Structure == TPictureStructure::Bottom) {
                continue; // field lists are the made streams' test
            }
            std::vector<const TBufferEntry*> shortTerm;
            std::vector<const TBufferEntry*> longTerm;
            for (const TBufferEntry& e : p.Before) {
                if (e.Reference[0] == 1 && e.Reference[1] == 1) {
                    shortTerm.push_back(&e);
                } else if (e.Reference[0] == 2 && e.Reference[1] == 2) {
                    longTerm.push_back(&e);
                }
            }
            std::sort(longTerm.begin(), longTerm.end(), [](auto* x, auto* y) {
                return x->LongTermFrameIdx < y->LongTermFrameIdx;
            });
            const auto wrap = [&](const TBufferEntry* e) {
                return e->FrameNum > p.FrameNum ? e->FrameNum - (1 << 16) : e->FrameNum;
            };
            for (const TSliceLists& lists : p.Lists) {
                std::vector<std::vector<const TBufferEntry*>> expected(2);
                if (lists.SliceType % 5 != 1) {
                    expected[0] = shortTerm;
                    std::sort(expected[0].begin(), expected[0].end(),
                              [&](auto* x, auto* y) { return wrap(x) > wrap(y); });
                } else {
                    std::vector<const TBufferEntry*> before;
                    std::vector<const TBufferEntry*> after;
                    for (const TBufferEntry* e : shortTerm) {
                        (e->Poc < p.Count.Poc ? before : after).push_back(e);
                    }
                    std::sort(before.begin(), before.end(),
                              [](auto* x, auto* y) { return x->Poc > y->Poc; });
                    std::sort(after.begin(), after.end(),
                              [](auto* x, auto* y) { return x->Poc < y->Poc; });
                    expected[0] = before;
                    expected[0].insert(expected[0].end(), after.begin(), after.end());
                    expected[1] = after;
                    expected[1].insert(expected[1].end(), before.begin(), before.end());
                }
                for (int l = 0; l < 2; ++l) {
                    if (l == 1 && lists.SliceType % 5 != 1) {
                        break;
                    }
                    expected[l].insert(expected[l].end(), longTerm.begin(), longTerm.end());
                }
                if (expected[1].size() > 1 && expected[1] == expected[0]) {
                    std::swap(expected[1][0], expected[1][1]);
                }
                for (int l = 0; l < 2; ++l) {
                    const std::vector<TListEntry>& initial = lists.Initial[l];
                    ASSERT_LE(initial.size(), expected[l].size());
                    for (std::size_t i = 0; i < initial.size(); ++i) {
                        EXPECT_EQ(initial[i].Poc, expected[l][i]->Poc)
                            << "picture " << p.Decode << " list " << l << " entry " << i;
                        EXPECT_EQ(initial[i].LongTerm, expected[l][i]->LongTerm());
                    }
                    // Cut only to the slice's active size: never short of the references.
                    EXPECT_TRUE(initial.size() == expected[l].size() || !initial.empty());
                    checked += initial.size();
                }
            }
        }
        EXPECT_GT(checked + (name.find("lossless") != std::string::npos ||
                             name.find("444") != std::string::npos ||
                             name.find("crop") != std::string::npos ||
                             name.find("cqm_jvt") != std::string::npos ||
                             name.find("sps_scaling") != std::string::npos || name == "vui_full"),
                  0u);
    }
}

} // namespace
