#include "model/PictureModel.h"

#include "model/Levels.h"
#include "stream/H264Utils.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

bool Predicted(std::uint32_t sliceType) {
    const std::uint32_t t = sliceType % 5;
    return t == 0 || t == 1 || t == 3; // P, B, SP
}

std::string Text(std::int64_t value) {
    return std::to_string(value);
}

} // namespace

const char* StructureName(TPictureStructure structure) {
    switch (structure) {
    case TPictureStructure::Top:
        return "top";
    case TPictureStructure::Bottom:
        return "bottom";
    case TPictureStructure::Mbaff:
        return "mbaff";
    case TPictureStructure::Frame:
        break;
    }
    return "frame";
}

namespace {

// A reference as a list holds it: a frame buffer and which of its pictures.
struct TRef {
    int Store = -1; // -1: no picture answered (Number says which was asked for)
    int Parity = 0;
    std::int64_t Number = 0;
    bool LongTerm = false;
};

} // namespace

// What building a slice's lists needs for a moment, kept to spare an allocation per slice.
struct TPictureModel::TScratch {
    std::vector<int> ShortTerm, LongTerm, Before, After, Order;
    std::vector<int> FrameLists[2];
    std::vector<TRef> Refs[2];
    std::vector<TRef> List;
    std::vector<TCodedPicture> SpareFacts;
    std::vector<TSliceLists> SpareLists;
    // What made the last slice's lists in the picture in hand: a slice that says the same
    // gets the same lists.
    bool KeyValid = false;
    TSliceHead Key;
};

namespace {

bool SameLists(const TSliceHead& x, const TSliceHead& y) {
    if (x.slice_type % 5 != y.slice_type % 5 ||
        x.num_ref_idx_l0_active_minus1 != y.num_ref_idx_l0_active_minus1 ||
        x.num_ref_idx_l1_active_minus1 != y.num_ref_idx_l1_active_minus1) {
        return false;
    }
    for (int l = 0; l < 2; ++l) {
        const std::uint32_t n = std::min<std::uint32_t>(x.modification_count[l], 32);
        if (n != y.modification_count[l] ||
            !std::equal(x.modifications[l].begin(), x.modifications[l].begin() + n,
                        y.modifications[l].begin(), [](const auto& p, const auto& q) {
                            return p.idc == q.idc && p.value == q.value;
                        })) {
            return false;
        }
    }
    return true;
}

} // namespace

// A frame buffer: a frame, a field pair or a single field.
struct TPictureModel::TStore {
    bool Used = false;
    TBufferEntry Entry;
    std::int64_t FieldPoc[2] = {0, 0};
    std::int64_t Decode[2] = {-1, -1}; // the pictures it holds, for their place in output
    std::int64_t Display = -1;
};

struct TPictureModel::TPending {
    TCodedPicture Facts;
    bool Resolved = false;
};

TPictureModel::TPictureModel(std::function<void(const TCodedPicture&)> done)
    : FDone(std::move(done)), FStores(kMaxFrames + 1), FScratch(std::make_unique<TScratch>()) {}

TPictureModel::~TPictureModel() = default;

bool TPictureModel::Field() const {
    return FHead.field_pic_flag != 0;
}

// 1 for a top field, 2 for a bottom one, 0 for a frame.
int TPictureModel::Parity() const {
    return !Field() ? 0 : FHead.bottom_field_flag != 0 ? 2 : 1;
}

std::int64_t TPictureModel::MaxFrameNum() const {
    return FSequence.MaxFrameNum;
}

std::size_t TPictureModel::DpbSize() const {
    return FSequence.DpbSize;
}

void TPictureModel::Learn(const TSeqParameterSet& sps) {
    FSequence.MaxFrameNum = std::int64_t{1} << ((sps.log2_max_frame_num_minus4 + 4) & 31);
    FSequence.NumRefFrames = std::max<std::uint32_t>(sps.num_ref_frames, 1);
    FSequence.GapsAllowed = sps.gaps_in_frame_num_value_allowed_flag != 0;
    std::size_t size = kMaxFrames;
    const TVuiParameters& vui = sps.vui_parameters;
    if (sps.vui_parameters_present_flag != 0 && vui.bitstream_restriction_flag != 0) {
        size = vui.max_dec_frame_buffering;
    } else if (const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag,
                                          sps.level_idc)) {
        const std::uint64_t frameMbs =
            (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1) *
            (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
            (sps.frame_mbs_only_flag != 0 ? 1 : 2);
        size = MaxDpbFrames(*level, frameMbs);
    }
    FSequence.DpbSize = std::clamp<std::size_t>(size, 1, kMaxFrames);
}

void TPictureModel::Recycle(TCodedPicture& facts) {
    for (TSliceLists& lists : facts.Lists) {
        for (int l = 0; l < 2; ++l) {
            lists.Initial[l].clear();
            lists.Final[l].clear();
        }
        if (FScratch->SpareLists.size() < 2 * kKeptSliceLists) {
            FScratch->SpareLists.push_back(std::move(lists));
        }
    }
    // The vectors keep what they hold room for: a picture costs no allocation.
    std::vector<TBufferEntry> before = std::move(facts.Before);
    std::vector<TBufferEntry> after = std::move(facts.After);
    std::vector<TSliceLists> kept = std::move(facts.Lists);
    std::string types = std::move(facts.Types);
    facts = TCodedPicture{};
    before.clear();
    after.clear();
    kept.clear();
    types.clear();
    facts.Before = std::move(before);
    facts.After = std::move(after);
    facts.Lists = std::move(kept);
    facts.Types = std::move(types);
}

void TPictureModel::Problem(const std::string& line) {
    ++FProblemCount;
    if (FFacts.Problems.size() < kKeptProblems) {
        // Until an IDR picture, an absent picture may be one from before the start.
        FFacts.Problems.push_back(FCutStart ? "after a start without IDR: " + line : line);
    } else {
        ++FFacts.ProblemsLeftOut;
    }
}

void TPictureModel::BeginAccessUnit(std::int64_t offset) {
    FinishPicture();
    FAccessUnitOffset = offset;
    FAccessUnitBytes = 0;
    FSliceBytes = 0;
}

void TPictureModel::Unit(std::int64_t bytes, bool slice) {
    FAccessUnitBytes += bytes;
    if (slice) {
        FSliceBytes += bytes;
    }
}

void TPictureModel::RecoveryPoint(std::uint32_t recovery_frame_cnt) {
    FPendingRecovery = recovery_frame_cnt;
}

void TPictureModel::UnreadableSlice() {
    if (FInPicture) {
        Problem("a slice whose header cannot be read (its parameter sets are missing or it is "
                "cut short)");
    }
}

void TPictureModel::Slice(const TSliceHead& head, const TSeqParameterSet& sps,
                          const TPicParameterSet* pps) {
    if (head.redundant_pic_cnt != 0) {
        return; // a redundant picture changes nothing a decoder keeps
    }
    if (!FInPicture) {
        StartPicture(head, sps);
    }
    // A damaged header's values may lie far outside any QP: kept as they add up.
    const auto qp = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        std::int64_t{26} + (pps != nullptr ? pps->pic_init_qp_minus26 : 0) + head.slice_qp_delta,
        INT32_MIN, INT32_MAX));
    FFacts.QpMin = FFacts.Slices == 0 ? qp : std::min(FFacts.QpMin, qp);
    FFacts.QpMax = FFacts.Slices == 0 ? qp : std::max(FFacts.QpMax, qp);
    ++FFacts.Slices;
    const std::string_view type = SliceTypeName(head.slice_type);
    bool seen = false;
    for (std::size_t at = 0; at < FFacts.Types.size() && !seen;) {
        const std::size_t end = std::min(FFacts.Types.find(',', at), FFacts.Types.size());
        seen = std::string_view(FFacts.Types).substr(at, end - at) == type;
        at = end + 1;
    }
    if (!seen) {
        if (!FFacts.Types.empty()) {
            FFacts.Types += ',';
        }
        FFacts.Types += type;
    }
    if (!Predicted(head.slice_type)) {
        return;
    }
    TScratch& scratch = *FScratch;
    const bool same = scratch.KeyValid && SameLists(scratch.Key, head);
    if (!same) {
        // The key's lists and marking operations beyond the counts are not looked at.
        std::memcpy(static_cast<void*>(&scratch.Key), &head, sizeof head);
        scratch.KeyValid = true;
    }
    if (FFacts.Lists.size() >= kKeptSliceLists) {
        // Not kept, but built: what it finds wrong still counts.
        ++FFacts.ListsLeftOut;
        if (!same) {
            TSliceLists lists;
            BuildLists(head, lists);
        }
        return;
    }
    std::vector<TSliceLists>& spare = scratch.SpareLists;
    if (spare.empty()) {
        FFacts.Lists.emplace_back();
    } else {
        FFacts.Lists.push_back(std::move(spare.back()));
        spare.pop_back();
    }
    TSliceLists& lists = FFacts.Lists.back();
    if (same) {
        // Its problems, if any, were told with the first such slice.
        const TSliceLists& previous = FFacts.Lists[FFacts.Lists.size() - 2];
        for (int l = 0; l < 2; ++l) {
            lists.Initial[l] = previous.Initial[l];
            lists.Final[l] = previous.Final[l];
        }
    } else {
        BuildLists(head, lists);
    }
    lists.SliceType = head.slice_type;
}

void TPictureModel::StartPicture(const TSliceHead& head, const TSeqParameterSet& sps) {
    Learn(sps);
    FScratch->KeyValid = false;
    FHead = head;
    FInPicture = true;
    Recycle(FFacts);
    FFacts.Decode = FDecoded++;
    FFacts.Offset = FAccessUnitOffset;
    FFacts.Idr = head.nal_unit_type == kNalIdrSlice;
    FFacts.NalRefIdc = head.nal_ref_idc;
    FFacts.FrameNum = head.frame_num;
    FFacts.Structure = Field() ? (Parity() == 2 ? TPictureStructure::Bottom : TPictureStructure::Top)
                       : sps.mb_adaptive_frame_field_flag != 0 ? TPictureStructure::Mbaff
                                                                : TPictureStructure::Frame;
    FCurResolved = false;
    // The second field of a pair goes into its first field's frame buffer.
    FSecondField = Field() && FLastField >= 0 && FStores[FLastField].Used &&
                   FLastFieldParity != Parity() && FLastFieldFrameNum == head.frame_num &&
                   FLastFieldReference == (head.nal_ref_idc != 0) &&
                   (FLastFieldIdr || !FFacts.Idr);
    FCurrentStore = FSecondField ? FLastField : -1;
    FLastField = -1;
    if (FFacts.Idr && !FSecondField) {
        FUnsure = false;
        FCutStart = false;
        FLeadingUnsure = false;
        FRecoveryFrameNum = -1;
    } else if (!FStarted) {
        FUnsure = true; // what came before the start is not known
        FCutStart = true;
        FPrevRefFrameNum = head.frame_num;
    } else if (!FSecondField && head.frame_num != FPrevRefFrameNum &&
               head.frame_num != (FPrevRefFrameNum + 1) % MaxFrameNum()) {
        FillGaps(head, sps);
    }
    FStarted = true;
    FFacts.Count = FOrder.Next(head, sps);
    if (FUnsure && FPendingRecovery >= 0 && FRecoveryFrameNum < 0) {
        FRecoveryFrameNum = (head.frame_num + FPendingRecovery) % MaxFrameNum();
    }
    FPendingRecovery = -1;
    if (FUnsure && head.frame_num == FRecoveryFrameNum) {
        // Recovered: this picture and those shown after it are right; those decoded later
        // but shown before it may still predict from pictures before the start.
        FUnsure = false;
        FLeadingUnsure = true;
        FRecoveredPoc = FFacts.Count.Poc;
        FRecoveryFrameNum = -1;
    }
    FFacts.Exact = !FUnsure && !(FLeadingUnsure && FFacts.Count.Poc < FRecoveredPoc);
    Snapshot(FFacts.Before);
}

void TPictureModel::FillGaps(const TSliceHead& head, const TSeqParameterSet& sps) {
    const std::int64_t max = MaxFrameNum();
    const std::int64_t missing = (head.frame_num - FPrevRefFrameNum - 1 + max) % max;
    if (!FSequence.GapsAllowed) {
        Problem("frame_num " + Text(head.frame_num) + " after " + Text(FPrevRefFrameNum) +
                " leaves a gap, which gaps_in_frame_num_value_allowed_flag 0 forbids");
    }
    // Only the last frames inserted outlast the sliding window.
    const std::int64_t kept = FSequence.NumRefFrames;
    const TSliceHead current = FHead;
    for (std::int64_t i = std::max<std::int64_t>(0, missing - kept); i < missing; ++i) {
        const auto frameNum = static_cast<std::uint32_t>((FPrevRefFrameNum + 1 + i) % max);
        FHead = TSliceHead{};
        FHead.frame_num = frameNum;
        FHead.nal_ref_idc = 1;
        SlidingWindow();
        Release();
        while (std::count_if(FStores.begin(), FStores.end(), [](const TStore& s) {
                   return s.Used;
               }) >= static_cast<std::ptrdiff_t>(DpbSize()) &&
               Bump()) {
        }
        auto free = std::find_if(FStores.begin(), FStores.end(),
                                 [](const TStore& s) { return !s.Used; });
        if (free == FStores.end()) {
            break; // the overflow shows at the picture's own storage
        }
        *free = TStore{};
        free->Used = true;
        free->Entry.FrameNum = frameNum;
        free->Entry.Reference[0] = free->Entry.Reference[1] = 1;
        free->Entry.Exists = false;
        FOrder.Skipped(frameNum, sps);
    }
    FHead = current;
    FPrevRefFrameNum = (FPrevRefFrameNum + missing) % max;
}

std::int64_t TPictureModel::PicNumOf(int store, int parity) const {
    const std::int64_t frameNum = FStores[store].Entry.FrameNum;
    const std::int64_t wrap = frameNum > FHead.frame_num ? frameNum - MaxFrameNum() : frameNum;
    return !Field() ? wrap : 2 * wrap + (parity == Parity() ? 1 : 0);
}

std::int64_t TPictureModel::LongTermPicNumOf(int store, int parity) const {
    const std::int64_t index = FStores[store].Entry.LongTermFrameIdx;
    return !Field() ? index : 2 * index + (parity == Parity() ? 1 : 0);
}

TListEntry TPictureModel::EntryOf(int store, int parity) const {
    const TStore& s = FStores[store];
    TListEntry entry;
    entry.Parity = parity;
    entry.LongTerm = parity == 0 ? s.Entry.Reference[0] == 2 && s.Entry.Reference[1] == 2
                                 : s.Entry.Reference[parity - 1] == 2;
    entry.Poc = parity == 0 ? s.Entry.Poc : s.FieldPoc[parity - 1];
    entry.FrameNum = entry.LongTerm ? s.Entry.LongTermFrameIdx : s.Entry.FrameNum;
    entry.Number = entry.LongTerm ? LongTermPicNumOf(store, parity) : PicNumOf(store, parity);
    entry.Exists = s.Entry.Exists;
    return entry;
}


void TPictureModel::BuildLists(const TSliceHead& head, TSliceLists& lists) {
    const bool field = Field();
    const bool b = head.slice_type % 5 == 1;
    const std::int64_t currentPoc = FFacts.Count.Poc;
    // Frames (or, for a field, frame buffers) holding short- and long-term references.
    const auto marked = [&](int s, int kind) {
        const TBufferEntry& e = FStores[s].Entry;
        if (!FStores[s].Used) {
            return false;
        }
        if (!field) {
            return e.Fields == 3 && e.Reference[0] == kind && e.Reference[1] == kind &&
                   (kind == 2 || e.Exists || !b);
        }
        return (((e.Fields & 1) != 0 && e.Reference[0] == kind) ||
                ((e.Fields & 2) != 0 && e.Reference[1] == kind)) &&
               (kind == 2 || e.Exists || !b);
    };
    // The count of a frame buffer's fields of that kind, the smaller.
    const auto pocOf = [&](int s, int kind) {
        const TStore& store = FStores[s];
        std::int64_t poc = store.Entry.Poc;
        bool any = false;
        for (int p = 0; p < 2; ++p) {
            if ((store.Entry.Fields & (1 << p)) != 0 && store.Entry.Reference[p] == kind) {
                poc = any ? std::min(poc, store.FieldPoc[p]) : store.FieldPoc[p];
                any = true;
            }
        }
        return poc;
    };
    TScratch& scratch = *FScratch;
    std::vector<int>& shortTerm = scratch.ShortTerm;
    std::vector<int>& longTerm = scratch.LongTerm;
    shortTerm.clear();
    longTerm.clear();
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        if (marked(s, 1)) {
            shortTerm.push_back(s);
        }
        if (marked(s, 2)) {
            longTerm.push_back(s);
        }
    }
    std::sort(longTerm.begin(), longTerm.end(), [&](int p, int q) {
        return FStores[p].Entry.LongTermFrameIdx < FStores[q].Entry.LongTermFrameIdx;
    });
    std::vector<int>(&frameLists)[2] = scratch.FrameLists;
    frameLists[0].clear();
    frameLists[1].clear();
    if (!b) {
        frameLists[0] = shortTerm;
        std::sort(frameLists[0].begin(), frameLists[0].end(), [&](int p, int q) {
            return PicNumOf(p, 1) > PicNumOf(q, 1); // the order of FrameNumWrap
        });
    } else {
        // Before the current picture, nearest first; then after it, nearest first. A field
        // counts a frame buffer at its own count as before it.
        std::vector<int>& before = scratch.Before;
        std::vector<int>& after = scratch.After;
        before.clear();
        after.clear();
        for (const int s : shortTerm) {
            const std::int64_t poc = pocOf(s, 1);
            (poc < currentPoc || (field && poc == currentPoc) ? before : after).push_back(s);
        }
        std::sort(before.begin(), before.end(),
                  [&](int p, int q) { return pocOf(p, 1) > pocOf(q, 1); });
        std::sort(after.begin(), after.end(),
                  [&](int p, int q) { return pocOf(p, 1) < pocOf(q, 1); });
        frameLists[0] = before;
        frameLists[0].insert(frameLists[0].end(), after.begin(), after.end());
        frameLists[1] = after;
        frameLists[1].insert(frameLists[1].end(), before.begin(), before.end());
    }
    const int listCount = b ? 2 : 1;
    std::vector<TRef>(&refs)[2] = scratch.Refs;
    refs[0].clear();
    refs[1].clear();
    for (int l = 0; l < listCount; ++l) {
        for (int kind = 1; kind <= 2; ++kind) {
            const std::vector<int>& frames = kind == 1 ? frameLists[l] : longTerm;
            if (!field) {
                for (const int s : frames) {
                    refs[l].push_back({s, 0, 0, kind == 2});
                }
                continue;
            }
            // Fields alternate, the current parity first, while both parities last.
            std::size_t next[2] = {0, 0};
            int parity = Parity() - 1;
            const auto has = [&](int s, int p) {
                const TBufferEntry& e = FStores[s].Entry;
                return (e.Fields & (1 << p)) != 0 && e.Reference[p] == kind;
            };
            for (;;) {
                while (next[parity] < frames.size() && !has(frames[next[parity]], parity)) {
                    ++next[parity];
                }
                if (next[parity] >= frames.size()) {
                    const int other = 1 - parity;
                    for (; next[other] < frames.size(); ++next[other]) {
                        if (has(frames[next[other]], other)) {
                            refs[l].push_back({frames[next[other]], other + 1, 0, kind == 2});
                        }
                    }
                    break;
                }
                refs[l].push_back({frames[next[parity]++], parity + 1, 0, kind == 2});
                parity = 1 - parity;
            }
        }
    }
    const auto same = [](const std::vector<TRef>& x, const std::vector<TRef>& y) {
        return x.size() == y.size() &&
               std::equal(x.begin(), x.end(), y.begin(), [](const TRef& p, const TRef& q) {
                   return p.Store == q.Store && p.Parity == q.Parity;
               });
    };
    if (b && refs[1].size() > 1 && same(refs[0], refs[1])) {
        std::swap(refs[1][0], refs[1][1]);
    }
    const std::uint32_t active[2] = {std::min<std::uint32_t>(head.num_ref_idx_l0_active_minus1, 31) + 1,
                                     std::min<std::uint32_t>(head.num_ref_idx_l1_active_minus1, 31) + 1};
    for (int l = 0; l < listCount; ++l) {
        if (refs[l].size() > active[l]) {
            refs[l].resize(active[l]);
        }
        for (TRef& r : refs[l]) {
            lists.Initial[l].push_back(EntryOf(r.Store, r.Parity));
        }
        if (refs[l].empty() && head.modification_count[l] == 0) {
            Problem("RefPicList" + Text(l) + ": no reference picture at all");
            FFacts.Exact = false;
        }
        // The modification commands, each putting a picture at the next place and taking
        // the same picture out of the places after it.
        const std::int64_t maxPicNum = field ? 2 * MaxFrameNum() : MaxFrameNum();
        const std::int64_t currPicNum = field ? 2 * std::int64_t{head.frame_num} + 1 : head.frame_num;
        std::int64_t pred = currPicNum;
        std::vector<TRef>& list = scratch.List;
        list = refs[l];
        std::size_t refIdx = 0;
        for (std::uint32_t i = 0; i < head.modification_count[l]; ++i) {
            const TSliceHead::TModification m = head.modifications[l][i];
            if (m.idc > 2) {
                Problem("RefPicList" + Text(l) + ": modification_of_pic_nums_idc " + Text(m.idc) +
                        " is not for this kind of slice");
                continue;
            }
            if (refIdx >= active[l]) {
                Problem("RefPicList" + Text(l) + ": more modifications than the list's " +
                        Text(active[l]) + " entries");
                break;
            }
            TRef found;
            if (m.idc < 2) {
                const std::int64_t diff = std::int64_t{m.value} + 1;
                std::int64_t noWrap = m.idc == 0 ? pred - diff : pred + diff;
                if (noWrap < 0) {
                    noWrap += maxPicNum;
                } else if (noWrap >= maxPicNum) {
                    noWrap -= maxPicNum;
                }
                pred = noWrap;
                found.Number = noWrap > currPicNum ? noWrap - maxPicNum : noWrap;
                found.Store = Find(1, found.Number);
            } else {
                found.LongTerm = true;
                found.Number = m.value;
                found.Store = Find(2, found.Number);
            }
            if (found.Store >= 0) {
                found.Parity = !field ? 0 : (found.Store >> 8);
                found.Store &= 0xFF;
            } else {
                Problem("RefPicList" + Text(l) + "[" + Text(static_cast<std::int64_t>(refIdx)) +
                        "]: no " + (found.LongTerm ? "long-term " : "") +
                        "reference picture with " + (found.LongTerm ? "LongTermPicNum " : "picNum ") +
                        Text(found.Number));
            }
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(refIdx), found);
            ++refIdx;
            for (std::size_t c = refIdx; c < list.size();) {
                const bool duplicate = found.Store >= 0 && list[c].Store == found.Store &&
                                       list[c].Parity == found.Parity;
                if (duplicate) {
                    list.erase(list.begin() + static_cast<std::ptrdiff_t>(c));
                } else {
                    ++c;
                }
            }
            if (list.size() > active[l]) {
                list.resize(active[l]);
            }
        }
        for (const TRef& r : list) {
            if (r.Store >= 0) {
                lists.Final[l].push_back(EntryOf(r.Store, r.Parity));
                // A frame inserted for a gap the stream does not allow stands for one lost.
                FFacts.Exact = FFacts.Exact && (FSequence.GapsAllowed || lists.Final[l].back().Exists);
            } else {
                TListEntry missing;
                missing.Missing = true;
                missing.LongTerm = r.LongTerm;
                missing.Number = r.Number;
                lists.Final[l].push_back(missing);
                FFacts.Exact = false;
            }
        }
    }
}

// The frame buffer (and, for a field, the parity in bits 8 on) of the reference of kind
// (1 short term by picNum, 2 long term by LongTermPicNum) with that number; -1 when none.
int TPictureModel::Find(int kind, std::int64_t number) const {
    const auto numberOf = [&](int s, int parity) {
        return kind == 1 ? PicNumOf(s, parity) : LongTermPicNumOf(s, parity);
    };
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        const TBufferEntry& e = FStores[s].Entry;
        if (!FStores[s].Used) {
            continue;
        }
        if (!Field()) {
            if (e.Fields == 3 && e.Reference[0] == kind && e.Reference[1] == kind &&
                numberOf(s, 0) == number) {
                return s;
            }
            continue;
        }
        for (int p = 1; p <= 2; ++p) {
            if ((e.Fields & p) != 0 && e.Reference[p - 1] == kind && numberOf(s, p) == number) {
                return s | (p << 8);
            }
        }
    }
    return -1;
}

void TPictureModel::SlidingWindow() {
    if (FSecondField && FStores[FCurrentStore].Entry.ShortTerm()) {
        return; // the pair's first field holds the place already
    }
    int shortCount = 0;
    int total = 0;
    int oldest = -1;
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        const TBufferEntry& e = FStores[s].Entry;
        if (!FStores[s].Used || (e.Reference[0] == 0 && e.Reference[1] == 0)) {
            continue;
        }
        ++total;
        if (e.ShortTerm()) {
            ++shortCount;
            if (oldest < 0 || PicNumOf(s, 1) < PicNumOf(oldest, 1)) {
                oldest = s;
            }
        }
    }
    if (total >= static_cast<int>(FSequence.NumRefFrames) &&
        shortCount > 0) {
        for (std::int32_t& r : FStores[oldest].Entry.Reference) {
            r = r == 1 ? 0 : r;
        }
    }
}

void TPictureModel::Adaptive(const TSliceHead& head) {
    const bool field = Field();
    const std::int64_t currPicNum = field ? 2 * std::int64_t{head.frame_num} + 1 : head.frame_num;
    // Marks a frame (both fields) or one field as the found value says.
    const auto set = [&](int found, std::int32_t to, std::int64_t index) {
        const int s = found & 0xFF;
        const int parity = found >> 8;
        for (int p = 1; p <= 2; ++p) {
            if (parity == 0 || parity == p) {
                FStores[s].Entry.Reference[p - 1] = to;
            }
        }
        if (to == 2) {
            FStores[s].Entry.LongTermFrameIdx = index;
        }
    };
    // Unmarks a long-term frame buffer holding the index, other than keep.
    const auto freeIndex = [&](std::int64_t index, int keep) {
        for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
            TBufferEntry& e = FStores[s].Entry;
            if (s != keep && FStores[s].Used && e.LongTerm() && e.LongTermFrameIdx == index) {
                for (std::int32_t& r : e.Reference) {
                    r = r == 2 ? 0 : r;
                }
            }
        }
    };
    const auto checkIndex = [&](std::uint32_t op, std::int64_t index) {
        if (index > FMaxLongTermFrameIdx) {
            Problem("MMCO " + Text(op) + ": long_term_frame_idx " + Text(index) +
                    (FMaxLongTermFrameIdx < 0 ? std::string(" while no long-term index is allowed")
                                              : " above MaxLongTermFrameIdx " +
                                                    Text(FMaxLongTermFrameIdx)));
        }
    };
    for (std::uint32_t i = 0; i < head.marking_count; ++i) {
        const TSliceHead::TMarking m = head.markings[i];
        switch (m.operation) {
        case 1:
        case 3: {
            const std::int64_t picNumX = currPicNum - (std::int64_t{m.value} + 1);
            const int found = Find(1, picNumX);
            if (found < 0) {
                Problem("MMCO " + Text(m.operation) + ": no short-term picture with picNum " +
                        Text(picNumX));
                break;
            }
            if (m.operation == 1) {
                set(found, 0, 0);
            } else {
                checkIndex(3, m.long_term_frame_idx);
                freeIndex(m.long_term_frame_idx, found & 0xFF);
                set(found, 2, m.long_term_frame_idx);
            }
            break;
        }
        case 2: {
            const int found = Find(2, m.value);
            if (found < 0) {
                Problem("MMCO 2: no long-term picture with LongTermPicNum " + Text(m.value));
                break;
            }
            set(found, 0, 0);
            break;
        }
        case 4:
            FMaxLongTermFrameIdx = std::int64_t{m.value} - 1;
            for (TStore& s : FStores) {
                if (s.Used && s.Entry.LongTerm() && s.Entry.LongTermFrameIdx > FMaxLongTermFrameIdx) {
                    for (std::int32_t& r : s.Entry.Reference) {
                        r = r == 2 ? 0 : r;
                    }
                }
            }
            break;
        case 5:
            for (TStore& s : FStores) {
                s.Entry.Reference[0] = s.Entry.Reference[1] = 0;
            }
            FMaxLongTermFrameIdx = -1;
            break;
        case 6:
            checkIndex(6, m.long_term_frame_idx);
            freeIndex(m.long_term_frame_idx, FSecondField ? FCurrentStore : -1);
            FCurReference = 2;
            FCurLongTermFrameIdx = m.long_term_frame_idx;
            break;
        default:
            Problem("memory_management_control_operation " + Text(m.operation) + " is not one");
            break;
        }
    }
}

void TPictureModel::Mark() {
    FCurReference = FHead.nal_ref_idc != 0 ? 1 : 0;
    FCurLongTermFrameIdx = -1;
    if (FHead.nal_ref_idc == 0) {
        return;
    }
    if (FFacts.Idr && !FSecondField) {
        FlushAll(FHead.no_output_of_prior_pics_flag == 0);
        if (FHead.long_term_reference_flag != 0) {
            FCurReference = 2;
            FCurLongTermFrameIdx = 0;
            FMaxLongTermFrameIdx = 0;
        } else {
            FMaxLongTermFrameIdx = -1;
        }
        FPrevRefFrameNum = 0;
        return;
    }
    if (FFacts.Idr) {
        if (FStores[FCurrentStore].Entry.LongTerm()) {
            FCurReference = 2;
            FCurLongTermFrameIdx = FStores[FCurrentStore].Entry.LongTermFrameIdx;
        }
    } else if (FHead.adaptive_ref_pic_marking_mode_flag != 0) {
        Adaptive(FHead);
    } else {
        SlidingWindow();
    }
    if (FHead.mmco5) {
        FLeadingUnsure = false; // the counts begin again
        FlushAll(true);
    }
    int frames = FSecondField ? 0 : 1; // the current picture's own
    for (const TStore& s : FStores) {
        frames += s.Used && (s.Entry.Reference[0] != 0 || s.Entry.Reference[1] != 0) ? 1 : 0;
    }
    const int allowed = static_cast<int>(FSequence.NumRefFrames);
    if (frames > allowed) {
        Problem(Text(frames) + " reference frames after marking, more than max_num_ref_frames " +
                Text(allowed));
    }
    FPrevRefFrameNum = FHead.mmco5 ? 0 : FHead.frame_num;
}

void TPictureModel::Release() {
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        TStore& store = FStores[s];
        if (store.Used && !store.Entry.WaitingForOutput && store.Entry.Reference[0] == 0 &&
            store.Entry.Reference[1] == 0 && !(FInPicture && s == FCurrentStore)) {
            store.Used = false;
        }
    }
}

TCodedPicture* TPictureModel::FactsOf(std::int64_t decode) {
    if (FInPicture && decode == FFacts.Decode) {
        return &FFacts;
    }
    if (FQueue.empty() || decode < FQueue.front().Facts.Decode) {
        return nullptr;
    }
    const auto at = static_cast<std::size_t>(decode - FQueue.front().Facts.Decode);
    return at < FQueue.size() ? &FQueue[at].Facts : nullptr;
}

void TPictureModel::Resolve(std::int64_t decode, std::int64_t display) {
    if (TCodedPicture* facts = FactsOf(decode)) {
        facts->Display = display;
        if (facts == &FFacts) {
            FCurResolved = true;
        } else {
            FQueue[static_cast<std::size_t>(decode - FQueue.front().Facts.Decode)].Resolved = true;
        }
    }
}

std::int64_t TPictureModel::OutputPicture(const std::int64_t (&decode)[2], std::int64_t poc) {
    const std::int64_t display = FDisplayed++;
    if (FOutputInSequence && poc < FLastOutputPoc) {
        if (TCodedPicture* facts = FactsOf(decode[0])) {
            ++FProblemCount;
            if (facts->Problems.size() < kKeptProblems) {
                facts->Problems.push_back("output by the bumping process after POC " +
                                          Text(FLastOutputPoc) +
                                          ", though its POC is lower: the buffer is too small "
                                          "for the stream's order");
            } else {
                ++facts->ProblemsLeftOut;
            }
        }
    }
    FOutputInSequence = true;
    FLastOutputPoc = poc;
    for (const std::int64_t d : decode) {
        if (d >= 0) {
            Resolve(d, display);
        }
    }
    return display;
}

bool TPictureModel::Bump() {
    int first = -1;
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        if (FStores[s].Used && FStores[s].Entry.WaitingForOutput &&
            (first < 0 || FStores[s].Entry.Poc < FStores[first].Entry.Poc)) {
            first = s;
        }
    }
    if (first < 0) {
        return false;
    }
    TStore& store = FStores[first];
    store.Entry.WaitingForOutput = false;
    store.Display = OutputPicture(store.Decode, store.Entry.Poc);
    Release();
    return true;
}

void TPictureModel::FlushAll(bool output) {
    while (output && Bump()) {
    }
    for (TStore& s : FStores) {
        if (s.Used && s.Entry.WaitingForOutput) {
            // Left out of the output: their place is settled as none.
            for (const std::int64_t d : s.Decode) {
                if (d >= 0) {
                    Resolve(d, -1);
                }
            }
        }
        s = TStore{};
    }
    FOutputInSequence = false;
}

void TPictureModel::Store() {
    const int parity = Parity();
    const std::int64_t poc = FFacts.Count.Poc;
    if (FSecondField) {
        TStore& s = FStores[FCurrentStore];
        s.Entry.Fields |= parity;
        s.Entry.Reference[parity - 1] = FCurReference;
        s.FieldPoc[parity - 1] = poc;
        s.Entry.Poc = std::min(s.FieldPoc[0], s.FieldPoc[1]);
        s.Decode[1] = FFacts.Decode;
        if (FCurReference == 2) {
            s.Entry.LongTermFrameIdx = FCurLongTermFrameIdx;
        }
        if (!s.Entry.WaitingForOutput) {
            Resolve(FFacts.Decode, s.Display); // its first field went out alone
        }
        return;
    }
    Release();
    const auto used = [this] {
        return static_cast<std::size_t>(
            std::count_if(FStores.begin(), FStores.end(), [](const TStore& s) { return s.Used; }));
    };
    const auto lowest = [&] {
        return std::none_of(FStores.begin(), FStores.end(), [poc](const TStore& s) {
            return s.Used && s.Entry.WaitingForOutput && s.Entry.Poc < poc;
        });
    };
    while (used() >= DpbSize()) {
        if (FCurReference == 0 && parity == 0 && lowest()) {
            const std::int64_t decode[2] = {FFacts.Decode, -1};
            OutputPicture(decode, poc); // straight out, never stored
            return;
        }
        if (!Bump()) {
            break;
        }
    }
    if (used() >= DpbSize()) {
        Problem("decoded picture buffer overflow: " + Text(static_cast<std::int64_t>(used()) + 1) +
                " frames for a buffer of " + Text(static_cast<std::int64_t>(DpbSize())));
    }
    auto free = std::find_if(FStores.begin(), FStores.end(), [](const TStore& s) { return !s.Used; });
    if (free == FStores.end()) {
        // No room even beyond the buffer's size: the oldest frame goes, and the model is
        // no longer sure.
        free = FStores.begin();
        for (auto s = FStores.begin(); s != FStores.end(); ++s) {
            if (PicNumOf(static_cast<int>(s - FStores.begin()), 1) <
                PicNumOf(static_cast<int>(free - FStores.begin()), 1)) {
                free = s;
            }
        }
        if (free->Entry.WaitingForOutput) {
            OutputPicture(free->Decode, free->Entry.Poc);
        }
        FFacts.Exact = false;
    }
    *free = TStore{};
    free->Used = true;
    TBufferEntry& e = free->Entry;
    e.FrameNum = FHead.frame_num;
    e.Fields = parity == 0 ? 3 : parity;
    for (int p = 1; p <= 2; ++p) {
        if ((e.Fields & p) != 0) {
            e.Reference[p - 1] = FCurReference;
        }
    }
    free->FieldPoc[0] = parity == 2 ? poc : FFacts.Count.Top;
    free->FieldPoc[1] = parity == 1 ? poc : FFacts.Count.Bottom;
    e.Poc = poc;
    e.LongTermFrameIdx = FCurReference == 2 ? FCurLongTermFrameIdx : -1;
    e.WaitingForOutput = true;
    free->Decode[0] = FFacts.Decode;
    FCurrentStore = static_cast<std::int32_t>(free - FStores.begin());
}

void TPictureModel::Snapshot(std::vector<TBufferEntry>& into) const {
    into.clear();
    std::vector<int>& order = FScratch->Order;
    order.clear();
    for (int s = 0; s < static_cast<int>(FStores.size()); ++s) {
        if (FStores[s].Used) {
            order.push_back(s);
        }
    }
    // Short-term first, newest first; then long-term by index; then what only waits.
    const auto rank = [this](int s) {
        const TBufferEntry& e = FStores[s].Entry;
        return e.ShortTerm() ? 0 : e.LongTerm() ? 1 : 2;
    };
    std::sort(order.begin(), order.end(), [&](int x, int y) {
        if (rank(x) != rank(y)) {
            return rank(x) < rank(y);
        }
        if (rank(x) == 0) {
            return PicNumOf(x, 1) > PicNumOf(y, 1);
        }
        if (rank(x) == 1) {
            return FStores[x].Entry.LongTermFrameIdx < FStores[y].Entry.LongTermFrameIdx;
        }
        return FStores[x].Entry.Poc < FStores[y].Entry.Poc;
    });
    for (const int s : order) {
        into.push_back(FStores[s].Entry);
    }
}

void TPictureModel::FinishPicture() {
    if (!FInPicture) {
        return;
    }
    FFacts.Bytes = FAccessUnitBytes;
    FFacts.SliceBytes = FSliceBytes;
    Mark();
    Store();
    Snapshot(FFacts.After);
    if (Field() && !FSecondField && FCurrentStore >= 0) {
        FLastField = FCurrentStore;
        FLastFieldParity = Parity();
        FLastFieldFrameNum = FHead.frame_num;
        FLastFieldReference = FHead.nal_ref_idc != 0;
        FLastFieldIdr = FFacts.Idr;
    }
    FInPicture = false;
    FQueue.emplace_back();
    std::swap(FQueue.back().Facts, FFacts);
    FQueue.back().Resolved = FCurResolved;
    if (!FScratch->SpareFacts.empty()) {
        std::swap(FFacts, FScratch->SpareFacts.back());
        FScratch->SpareFacts.pop_back();
    }
    Drain(false);
}

void TPictureModel::Drain(bool all) {
    while (!FQueue.empty() &&
           (FQueue.front().Resolved || all || FQueue.size() > kQueueLimit)) {
        TPending& front = FQueue.front();
        if (!front.Resolved) {
            ++FProblemCount;
            front.Facts.Problems.push_back(
                all ? "never output: the stream ended first"
                    : "its place in output order is not known: too many pictures wait before it");
        }
        FDone(front.Facts);
        if (FScratch->SpareFacts.size() < 4) {
            FScratch->SpareFacts.push_back(std::move(front.Facts));
        }
        FQueue.pop_front();
    }
}

void TPictureModel::Finish() {
    FinishPicture();
    FlushAll(true);
    Drain(true);
}
