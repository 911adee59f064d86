// Any bytes as a stream, through the picture model: no crash, no read past a unit, the
// memory its bounds promise, and every entry of every reference list either marked as
// missing or a reference picture of the buffer before the picture, of the kind it says.
// And the detail tree's picture nodes of the first slices, each walked on its own: both
// nodes, in order, each entry under its group.

#include "FuzzSupport.h"
#include "model/PictureAt.h"
#include "model/PictureWalk.h"

#include <cstdint>

namespace {

bool InBuffer(const TListEntry& entry, const std::vector<TBufferEntry>& buffer) {
    for (const TBufferEntry& e : buffer) {
        const int parity = entry.Parity;
        const std::int32_t kind = entry.LongTerm ? 2 : 1;
        const bool marked = parity == 0 ? e.Fields == 3 && e.Reference[0] == kind &&
                                              e.Reference[1] == kind
                                        : (e.Fields & parity) != 0 && e.Reference[parity - 1] == kind;
        const std::int64_t number = entry.LongTerm ? e.LongTermFrameIdx : e.FrameNum;
        if (marked && number == entry.FrameNum && e.Exists == entry.Exists &&
            (parity != 0 || !e.Exists || e.Poc == entry.Poc)) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("picture_model");
    file.Write(data, size);
    FileStream stream;
    FuzzCheck(stream.Open(file.Path()), "the file opens");
    std::int64_t next = 0;
    std::int64_t problems = 0;
    TPictureModel model([&](const TCodedPicture& p) {
        FuzzCheck(p.Decode == next++, "pictures in decoding order, each once");
        FuzzCheck(p.Before.size() <= TPictureModel::kMaxFrames + 1 &&
                      p.After.size() <= TPictureModel::kMaxFrames + 1,
                  "the buffer within its frames");
        FuzzCheck(p.Lists.size() <= TPictureModel::kKeptSliceLists &&
                      p.Problems.size() <= TPictureModel::kKeptProblems + 1,
                  "the lists and problems kept within their bounds");
        FuzzCheck(p.Slices > 0 && p.QpMin <= p.QpMax, "a picture has slices and a QP range");
        for (const TSliceLists& lists : p.Lists) {
            for (int l = 0; l < 2; ++l) {
                FuzzCheck(lists.Initial[l].size() <= 32 && lists.Final[l].size() <= 32,
                          "a list within 32 entries");
                for (const std::vector<TListEntry>* list : {&lists.Initial[l], &lists.Final[l]}) {
                    for (const TListEntry& entry : *list) {
                        FuzzCheck(entry.Missing || InBuffer(entry, p.Before),
                                  "a list entry names a reference of the buffer or is marked");
                        FuzzCheck(!entry.Missing || !p.Problems.empty(),
                                  "a missing entry has its problem line");
                    }
                }
            }
        }
        problems += static_cast<std::int64_t>(p.Problems.size() + p.ProblemsLeftOut);
    });
    WalkPictures(stream, model);
    FuzzCheck(next == model.Pictures(), "every picture told");
    FuzzCheck(problems <= model.Problems(), "every problem line counted");
    int asked = 0;
    for (std::size_t i = 0; i + 3 < size && asked < 4; ++i) {
        const std::uint32_t type = data[i + 3] & 0x1F;
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (type != 1 && type != 5)) {
            continue;
        }
        ++asked;
        const std::int64_t at = i > 0 && data[i - 1] == 0 ? static_cast<std::int64_t>(i) - 1
                                                          : static_cast<std::int64_t>(i);
        const std::vector<TPictureAtLine> lines = PictureLinesAt(stream, at);
        int nodes = 0;
        int depth = 0;
        for (const TPictureAtLine& line : lines) {
            FuzzCheck(line.Depth >= 0 && line.Depth <= depth + 1 && line.Depth <= 2,
                      "a line under the one before it");
            if (line.Depth == 0) {
                FuzzCheck(line.Text.rfind(nodes == 0 ? "Reference lists" : "Decoded picture buffer",
                                          0) == 0,
                          "the two nodes in order");
                ++nodes;
            }
            depth = line.Depth;
        }
        FuzzCheck(nodes == 2 && lines[0].Depth == 0, "both nodes, and nothing before them");
    }
    return 0;
}
