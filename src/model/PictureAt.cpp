#include "model/PictureAt.h"

#include "model/PictureWalk.h"
#include "model/WalkContext.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace {

using TClock = std::chrono::steady_clock;

std::string Mib(std::int64_t bytes) {
    return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                  : std::to_string(bytes) + " bytes";
}

// Where the model's walk begins: the first unit of the nearest IDR picture at or before
// offset (its IDR slices and the prefix units before them; should they hold two IDR
// pictures, the earlier is walked too, which costs only time), or, with none within the
// bound, the lowest offset looked at.
struct TStart {
    std::int64_t Offset = 0;
    bool Idr = false;
    bool Timeout = false;
};

TStart FindStart(FileStream& stream, std::int64_t offset, std::int64_t bound,
                 TClock::time_point deadline) {
    TUnitCursor cursor(stream, 1 << 16);
    cursor.SetBudget(bound);
    // The cursor reads whole blocks: the bound is kept here, to the byte.
    const std::int64_t floor = std::max<std::int64_t>(offset - bound, 0);
    constexpr std::int32_t kStep = 64;
    std::int64_t found[kStep];
    std::int64_t idr = -1;
    for (std::int64_t at = offset;;) {
        const std::int32_t n = cursor.Previous(at, kStep, found);
        for (std::int32_t i = 0; i < n && found[i] >= floor; ++i) {
            const std::uint32_t type = NalUnitType(cursor.Describe(found[i]).NalHeader);
            if (type == kNalIdrSlice || (type == kNalPrefix && idr >= 0)) {
                idr = found[i];
            } else if (idr >= 0) {
                return TStart{idr, true, false};
            }
        }
        if (n == 0 || found[n - 1] <= floor || cursor.Exhausted()) {
            break;
        }
        if (TClock::now() > deadline) {
            return idr >= 0 ? TStart{idr, true, false} : TStart{found[n - 1], false, true};
        }
        at = found[n - 1] - 1;
    }
    return idr >= 0 ? TStart{idr, true, false} : TStart{floor, false, false};
}

std::string ParityText(std::int32_t parity) {
    return parity == 1 ? ", top field" : parity == 2 ? ", bottom field" : "";
}

std::string EntryText(std::size_t index, const TListEntry& e) {
    std::string text = "[" + std::to_string(index) + "] ";
    if (e.Missing) {
        return text + "missing: no reference picture with " +
               (e.LongTerm ? "LongTermPicNum " : "picNum ") + std::to_string(e.Number);
    }
    text += "POC " + std::to_string(e.Poc) + (e.LongTerm ? ", LongTermFrameIdx " : ", frame_num ") +
            std::to_string(e.FrameNum) + (e.LongTerm ? ", long term" : ", short term") +
            ParityText(e.Parity);
    return e.Exists ? text : text + ", inserted for a gap in frame_num";
}

std::string BufferText(const TBufferEntry& e) {
    std::string text = e.LongTerm() ? "LongTermFrameIdx " + std::to_string(e.LongTermFrameIdx)
                                    : "frame_num " + std::to_string(e.FrameNum);
    text += ", POC " + std::to_string(e.Poc);
    text += e.LongTerm() ? ", long term" : e.ShortTerm() ? ", short term" : ", not for reference";
    if (e.Fields == 1 || e.Fields == 2) {
        text += e.Fields == 1 ? ", top field only" : ", bottom field only";
    }
    if (e.WaitingForOutput) {
        text += ", waiting for output";
    }
    return e.Exists ? text : text + ", inserted for a gap in frame_num";
}

void AddList(std::vector<TPictureAtLine>& lines, const std::string& title,
             const std::vector<TListEntry>& entries) {
    lines.push_back({1, title + " (" + std::to_string(entries.size()) +
                            (entries.size() == 1 ? " entry)" : " entries)")});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        lines.push_back({2, EntryText(i, entries[i])});
    }
}

void AddBuffer(std::vector<TPictureAtLine>& lines, const std::string& title,
               const std::vector<TBufferEntry>& entries) {
    lines.push_back({1, title + " (" + std::to_string(entries.size()) +
                            (entries.size() == 1 ? " frame)" : " frames)")});
    for (const TBufferEntry& e : entries) {
        lines.push_back({2, BufferText(e)});
    }
}

} // namespace

std::vector<TPictureAtLine> PictureLinesAt(FileStream& stream, std::int64_t offset,
                                           std::int64_t bytes, std::int64_t milliseconds) {
    const auto unknown = [](const std::string& why) {
        return std::vector<TPictureAtLine>{{0, "Reference lists: not known, " + why},
                                           {0, "Decoded picture buffer: not known, " + why}};
    };
    if (stream.IsPipe()) {
        return unknown("standard input cannot be read back to the picture's start");
    }
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(milliseconds);
    const TStart start = FindStart(stream, offset, bytes, deadline);
    const std::string timeBound =
        "the walk took its bound of " + std::to_string(milliseconds) + " ms before this slice";
    if (start.Timeout) {
        return unknown(timeBound);
    }

    TUnitCursor cursor(stream, 1 << 20);
    cursor.SetBudget(offset - start.Offset + bytes);
    TWalkContext walk(cursor, &stream);
    walk.Begin(start.Offset, start.Idr);
    std::int64_t target = -1; // the slice's access unit, once met
    std::optional<TCodedPicture> facts;
    TPictureModel model([&](const TCodedPicture& p) {
        if (target >= 0 && p.Offset == target) {
            facts = p;
        }
    });
    TPictureFeed feed(model);
    TWalkUnit unit;
    // Of the predicted slices in the slice's access unit, whose lists the model keeps, which
    // it is; and its type.
    std::size_t slice = 0;
    std::size_t read = 0;
    std::uint32_t type = 0;
    bool redundant = false;
    const auto predicted = [](const TSliceHead& head) {
        return head.redundant_pic_cnt == 0 && head.slice_type % 5 != 2 && head.slice_type % 5 != 4;
    };
    bool timedOut = false;
    for (std::int64_t told = 0; walk.Next(unit, WalkHeadsWithSei); ++told) {
        if (target >= 0 && (unit.BeginsAccessUnit || unit.HeldBack)) {
            break;
        }
        if (told % 256 == 255 && TClock::now() > deadline) {
            timedOut = true;
            break;
        }
        feed.Tell(unit);
        if (unit.BeginsAccessUnit) {
            read = 0;
        }
        if (unit.Span.Offset == offset) {
            if (unit.Head == nullptr) {
                return unknown("the slice's header could not be read");
            }
            target = feed.AccessUnit();
            slice = read;
            type = unit.Head->slice_type % 5;
            redundant = unit.Head->redundant_pic_cnt != 0;
        }
        if (unit.Head != nullptr && predicted(*unit.Head)) {
            ++read;
        }
        if (target < 0 && unit.Span.Offset > offset) {
            return unknown("no slice begins at " + NalOffsetText(offset));
        }
    }
    model.Finish();
    if (!facts) {
        return unknown(timedOut      ? timeBound
                       : target >= 0 ? "the model made no picture of this slice"
                       : cursor.Exhausted()
                           ? "the walk read its bound of " + Mib(bytes) + " before this slice"
                           : "no slice begins at " + NalOffsetText(offset));
    }
    std::string exact;
    if (!start.Idr) {
        exact = " (not exact: no IDR picture within " + Mib(bytes) + " before, the walk began at " +
                NalOffsetText(start.Offset) + " with an empty buffer)";
    } else if (!facts->Exact) {
        exact = " (not exact: a picture it depends on is missing)";
    }
    std::vector<TPictureAtLine> lines;
    lines.push_back({0, "Reference lists" + exact});
    if (redundant) {
        lines.push_back({1, "none: a redundant slice, which changes nothing the model keeps"});
    } else if (type == 2 || type == 4) {
        lines.push_back({1, "none: an intra slice predicts from no picture"});
    } else if (slice >= facts->Lists.size()) {
        lines.push_back({1, "not kept: the picture has more than " +
                                std::to_string(TPictureModel::kKeptSliceLists) +
                                " predicted slices"});
    } else {
        const TSliceLists& lists = facts->Lists[slice];
        for (int list = 0; list < (type == 1 ? 2 : 1); ++list) {
            const std::string name = "RefPicList" + std::to_string(list);
            AddList(lines, name + " initial", lists.Initial[list]);
            AddList(lines, name + " final", lists.Final[list]);
        }
    }
    lines.push_back({0, "Decoded picture buffer" + exact});
    AddBuffer(lines, "before this picture", facts->Before);
    AddBuffer(lines, "after its marking", facts->After);
    for (const std::string& problem : facts->Problems) {
        lines.push_back({1, "! " + problem});
    }
    return lines;
}

void AddPictureLines(const std::vector<TPictureAtLine>& lines, ITreeLines& tree, TTreeLine parent) {
    TTreeLine at[4] = {parent, nullptr, nullptr, nullptr};
    for (const TPictureAtLine& line : lines) {
        at[line.Depth + 1] = tree.AddChildLine(at[line.Depth], line.Text);
    }
}
