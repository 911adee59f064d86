#include "decode/AccessUnitDecoder.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "syntax/BitStream4.h"
#include "model/WalkContext.h"
#include "syntax/ParameterSetFinder.h"

#include <algorithm>
#include <numeric>

namespace {

// Parameter sets and SEI messages are read whole, up to this.
constexpr std::int32_t kSetBytes = 65536;
// Pictures kept after they came out, for the selections that follow.
constexpr std::size_t kKeptPictures = 8;
// The backward search for a start reads blocks of this size.
constexpr std::int32_t kSearchBlock = 1 << 20;
// Start codes taken from one backward step.
constexpr std::int32_t kStartsPerStep = 256;
// Recovery points tried, the nearest first, before an I picture is taken.
constexpr std::size_t kRecoveryPointsTried = 4;
// The largest picture of the highest level (6.2): its frame size in macroblocks, and the
// longest side the level's rule (at most the square root of 8 frame sizes) allows.
constexpr std::uint64_t kMaxFrameMbs = 139264;
constexpr std::uint32_t kMaxSideMbs = 1055;

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

TUnitWants WantsOf(std::uint8_t header) {
    const std::uint32_t type = NalUnitType(header);
    if (IsSlice(type)) {
        return {kSliceHeaderBytes, true};
    }
    if (type == kNalSei || type == kNalSps || type == kNalPps) {
        return {kSetBytes, true};
    }
    // Filler data is of no use to the decoder, and may be long.
    return {0, type != kNalFiller};
}

std::string Plural(std::int64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

const char* KindText(TStartKind kind) {
    switch (kind) {
    case TStartKind::Idr:
        return "IDR";
    case TStartKind::RecoveryPoint:
        return "recovery point";
    case TStartKind::IPicture:
        return "I picture";
    }
    return "";
}

// "IDR at 0x...", "recovery point at 0x..." or "I picture at 0x...".
std::string StartText(std::int64_t startOffset, TStartKind kind) {
    return std::string(KindText(kind)) + " at " + NalOffsetText(startOffset);
}

// The payload of a unit after its header byte without emulation prevention, into rbsp.
std::int32_t Payload(const std::uint8_t* afterHeader, std::size_t size,
                     std::vector<std::uint8_t>& rbsp) {
    rbsp.resize(size);
    std::int32_t written = 0;
    if (size > 0) {
        Remove_emulation_prevention_three_bytes(afterHeader, static_cast<std::int32_t>(size),
                                                rbsp.data(), written);
    }
    return written;
}

} // namespace

std::string NoStartMessage() {
    return "No IDR picture, recovery point or I picture within " +
           std::to_string(kPictureSearchBound / 1048576) + " MiB before this picture";
}

std::string ProgressLine(std::int64_t startOffset, TStartKind kind, std::int32_t pictures) {
    return "Decoding from the " + StartText(startOffset, kind) + ": " +
           Plural(pictures, "picture") + " so far";
}

std::string NoPictureMessage() {
    return "No picture in this access unit";
}

std::string DecoderErrorMessage(const std::string& reason) {
    return "The decoder reported an error: " + reason;
}

std::string TooLargeMessage(std::uint32_t widthInMbs, std::uint32_t heightInMbs) {
    return "The picture is " + std::to_string(std::uint64_t{widthInMbs} * 16) + "x" +
           std::to_string(std::uint64_t{heightInMbs} * 16) +
           ", larger than any level allows (at most 139,264 macroblocks, no side over 1,055)";
}

std::string InexactNote(const TPictureFacts& facts) {
    if (facts.Exact) {
        return {};
    }
    return "the picture may differ from the stream's: decoding began at the " +
           StartText(facts.StartOffset, facts.StartKind) + ", and references were missing";
}

std::string PictureLine(const TDecodedPicture& decoded) {
    const TPictureFacts& f = decoded.Facts;
    std::string line =
        std::to_string(decoded.Picture.Width) + "x" + std::to_string(decoded.Picture.Height) +
        ", slices " + f.SliceTypes + ", frame_num " + std::to_string(f.FrameNum) + ", POC " +
        std::to_string(f.Poc) + ", picture " + std::to_string(f.DecodeIndex) +
        " in decoding order and " + std::to_string(f.DisplayIndex) +
        " in display order after the " + KindText(f.StartKind) + ", decoded from the " +
        StartText(f.StartOffset, f.StartKind) + " (" + Plural(f.Pictures, "picture") + ")";
    if (!f.Exact) {
        line += "; " + InexactNote(f);
    } else if (decoded.Picture.Corrupt) {
        line += ", with decoding errors";
    }
    return line;
}

TAccessUnitDecoder::TAccessUnitDecoder(FileStream& stream, std::int64_t fileSize,
                                       IPictureDecoder& decoder)
    : FStream(stream), FFileSize(fileSize), FDecoder(decoder),
      FWalk(stream, 1 << 20), FContext(std::make_unique<TWalkContext>(FWalk, &stream)),
      FSearchBlock(static_cast<std::size_t>(kSearchBlock)) {}

TAccessUnitDecoder::~TAccessUnitDecoder() = default;

TPictureAnswer TAccessUnitDecoder::Decode(std::int64_t offset, const std::atomic<bool>* cancel) {
    FCancel = cancel;
    FWalk.SetCancel(cancel);
    const std::int64_t anchor = PictureAnchor(offset);
    if (CanAnswer(offset)) {
        // Unless an IDR picture lies between the walk and the selection: decoding begins
        // there afresh, as it would for a selection in a decoder of its own, and the
        // pictures before it are not decoded for nothing.
        const std::int64_t frontier = FOpenUsed ? FOpen.First : FWalk.Position();
        const std::vector<TStart> starts =
            offset > frontier ? FindStarts(anchor, frontier, true) : std::vector<TStart>{};
        if (starts.empty()) {
            return WalkTo(offset, cancel);
        }
        ++FColdStarts;
        BeginWalk(starts.front(), offset);
        return WalkTo(offset, cancel);
    }
    const std::vector<TStart> starts =
        FindStarts(anchor, std::max<std::int64_t>(anchor - kPictureSearchBound, 0), false);
    if (starts.empty()) {
        FValid = false;
        TPictureAnswer answer;
        answer.Message = cancel && cancel->load() ? std::string() : NoStartMessage();
        answer.Outcome =
            cancel && cancel->load() ? TPictureOutcome::Cancelled : TPictureOutcome::Failed;
        return answer;
    }
    // A recovery point whose recovery_frame_cnt has not passed at the selected picture
    // gives way to the one before it; the last start tried answers in any case.
    TPictureAnswer answer;
    std::size_t tried = 0;
    for (const TStart& start : starts) {
        ++FColdStarts;
        BeginWalk(start, offset);
        answer = WalkTo(offset, cancel);
        if (answer.Outcome != TPictureOutcome::Done || answer.Decoded.Facts.Exact ||
            start.Kind != TStartKind::RecoveryPoint || ++tried >= kRecoveryPointsTried) {
            break;
        }
    }
    return answer;
}

// The walk in hand answers for offset when the picture is kept, its access unit has none, or
// the walk has yet to reach it or to give it out; otherwise decoding begins afresh.
bool TAccessUnitDecoder::CanAnswer(std::int64_t offset) const {
    if (!FValid || offset < FWalkStart || offset - FWalkStart > kPictureSearchBound) {
        return false;
    }
    if (const TUnitGroup* group = GroupHolding(offset)) {
        return !group->HasPicture || FPictures.count(group->Picture) != 0 ||
               (!group->Out && !FDrained);
    }
    return !FDrained && (FOpenUsed ? offset >= FOpen.First : offset >= FWalk.Position());
}

std::int64_t TAccessUnitDecoder::PictureAnchor(std::int64_t offset) {
    TUnitCursor probe(FStream, 1 << 16);
    probe.Seek(offset);
    probe.SetBudget(kPictureSearchBound);
    TNalUnitSpan unit;
    while (probe.Next(unit)) {
        if (!unit.HasHeader) {
            continue;
        }
        const std::uint32_t type = NalUnitType(unit.Header);
        if (IsSlice(type)) {
            return unit.Offset;
        }
        const bool before = (type >= kNalSei && type <= kNalDelimiter) || type == kNalFiller ||
                            (type >= kNalSpsExtension && type <= 18);
        if (unit.Offset != offset || !before) {
            break;
        }
        // The units that come before a picture, and filler among them, lead to its slice.
        while (probe.Next(unit)) {
            const std::uint32_t next = unit.HasHeader ? NalUnitType(unit.Header) : 0;
            if (IsSlice(next)) {
                return unit.Offset;
            }
            if (!((next >= kNalSei && next <= kNalDelimiter) || next == kNalFiller ||
                  (next >= kNalSpsExtension && next <= 18))) {
                break;
            }
        }
        break;
    }
    return offset;
}

std::vector<TAccessUnitDecoder::TStart>
TAccessUnitDecoder::FindStarts(std::int64_t anchor, std::int64_t floor, bool idrOnly) {
    TUnitCursor cursor(FStream, FSearchBlock.data(), kSearchBlock, anchor - floor + kSearchBlock);
    std::vector<TStart> recovery;
    TStart picture;
    TStart idr;
    std::int64_t found[kStartsPerStep];
    std::vector<std::uint8_t> head(kSetBytes);
    std::vector<std::uint8_t> rbsp;
    for (std::int64_t at = anchor; at >= floor;) {
        const std::int32_t n = cursor.Previous(at, kStartsPerStep, found);
        for (std::int32_t i = 0; i < n && found[i] >= floor; ++i) {
            const std::int64_t unit = found[i];
            const std::int32_t got =
                ReadWithinSize(FStream, unit, head.data(), kSetBytes, FFileSize);
            std::int32_t length = 0;
            GetNalUnitLength(head.data(), got, length);
            const int startCode = StartCodeLength(head.data(), length);
            if (startCode == 0 || length <= startCode + 1) {
                continue;
            }
            const std::uint32_t type = NalUnitType(head[static_cast<std::size_t>(startCode)]);
            const std::int32_t size =
                Payload(head.data() + startCode + 1,
                        static_cast<std::size_t>(length - startCode - 1), rbsp);
            if (type == kNalIdrSlice) {
                // The IDR slices right before the one found may be of its picture, in any
                // order: decoding begins at the first of them. Should they hold an earlier
                // IDR picture too, that one is decoded as well, which costs only time.
                idr = TStart{unit, TStartKind::Idr};
                continue;
            }
            if (type == kNalPrefix && idr.Offset >= 0) {
                idr.Offset = unit; // the prefix unit goes with the slice after it
                continue;
            }
            if (idr.Offset >= 0) {
                return {idr};
            }
            if (!idrOnly && type == kNalSei && RecoveryFrameCount(rbsp.data(), size)) {
                recovery.push_back(TStart{unit, TStartKind::RecoveryPoint});
            } else if (!idrOnly && picture.Offset < 0 && type == kNalNonIdrSlice) {
                TBitStream4 reader;
                if (size > 0 && reader.SetData(rbsp.data(), size) == kStatusOk &&
                    reader.ReadUE() == 0 && reader.ReadUE() % 5 == 2 && reader.Error() == 0) {
                    picture = TStart{unit, TStartKind::IPicture};
                }
            }
        }
        if (n == 0 || found[n - 1] <= floor || cursor.Exhausted() ||
            (FCancel != nullptr && FCancel->load())) {
            break;
        }
        at = found[n - 1] - 1;
    }
    if (idr.Offset >= 0) {
        return {idr};
    }
    if (recovery.size() > kRecoveryPointsTried) {
        recovery.resize(kRecoveryPointsTried);
    }
    if (picture.Offset >= 0) {
        recovery.push_back(picture);
    }
    return recovery;
}

void TAccessUnitDecoder::BeginWalk(const TStart& start, std::int64_t from) {
    FDecoder.Reset();
    FValid = true;
    FDrained = false;
    FStart = start;
    FWalkStart = std::min(start.Offset, from);
    FDone.clear();
    FOpen = TUnitGroup{};
    FOpenUsed = false;
    FHeldOffset = -1;
    FHeldBytes.clear();
    FOrder = TPictureOrder{};
    FPictureCount = 0;
    FPeriod = 0;
    FPictures.clear();
    FWaitFor = -1;
    FContext->Begin(FWalkStart, true);
    FWalk.SetBudget(-1);
}

TPictureAnswer TAccessUnitDecoder::WalkTo(std::int64_t offset, const std::atomic<bool>* cancel) {
    TPictureAnswer answer;
    FRequested = offset;
    for (;;) {
        if (Answer(offset, answer)) {
            return answer;
        }
        const TUnitGroup* group = GroupHolding(offset);
        if (group && !group->HasPicture) {
            answer.Message = NoPictureMessage();
            return answer;
        }
        if (FDrained) {
            answer.Message =
                group ? DecoderErrorMessage("the picture did not come out") : NoPictureMessage();
            FValid = false;
            return answer;
        }
        if (cancel && cancel->load()) {
            answer.Outcome = TPictureOutcome::Cancelled;
            return answer;
        }
        FWaitFor = group ? group->Picture : -1;
        const TStep step = TakeUnit(group != nullptr);
        if (step == TStep::Cancelled) {
            FValid = false; // the cursor stopped inside a unit
            answer.Outcome = TPictureOutcome::Cancelled;
            return answer;
        }
        if (step == TStep::Failed) {
            FValid = false;
            answer.Message = FFailure;
            return answer;
        }
    }
}

// One more unit of the walk; at the file's end, the last group and what the decoder holds.
TAccessUnitDecoder::TStep TAccessUnitDecoder::TakeUnit(bool feedAhead) {
    FUnitBytes.clear();
    TWalkUnit told;
    if (!FContext->Next(told, WantsOf, &FUnitBytes,
                        static_cast<std::size_t>(kPictureSearchBound))) {
        if (FWalk.Cancelled()) {
            return TStep::Cancelled;
        }
        if (FOpenUsed) {
            const TStep step = CloseGroup(FFileSize, feedAhead);
            if (step != TStep::Continue || FDrained) {
                return step;
            }
        }
        return DrainAll();
    }
    if (FWalk.Cancelled()) {
        return TStep::Cancelled;
    }
    FUnit = told.Span;
    if (!FUnit.HasHeader) {
        return TStep::Continue;
    }
    const std::uint32_t type = told.Type;
    const bool begins = told.BeginsAccessUnit;
    if (told.HeldBack) {
        // Which access unit a prefix unit is in is known with the unit after it.
        FHeldOffset = FUnit.Offset;
        FHeldOverflow = FWalk.Overflow();
        FHeldBytes.swap(FUnitBytes);
        return TStep::Continue;
    }
    const std::int64_t first = told.BeganBefore ? FHeldOffset : FUnit.Offset;
    if (begins && FOpenUsed) {
        const TStep step = CloseGroup(first, feedAhead);
        if (step != TStep::Continue || FDrained) {
            return step;
        }
    }
    if (!FOpenUsed) {
        FOpen = TUnitGroup{};
        FOpen.First = first;
        FOpenUsed = true;
    }
    if (FHeldOffset >= 0) {
        FOpen.Overflow =
            FOpen.Overflow || FHeldOverflow ||
            FOpen.Bytes.size() + FHeldBytes.size() > static_cast<std::size_t>(kPictureSearchBound);
        if (!FOpen.Overflow) {
            FOpen.Bytes.insert(FOpen.Bytes.end(), FHeldBytes.begin(), FHeldBytes.end());
        }
        FHeldBytes.clear();
        FHeldOffset = -1;
    }
    if (IsSlice(type) && told.Head == nullptr) {
        const std::string& missing = FContext->Sets().Missing();
        FFailure = !missing.empty()
                       ? missing + (missing.find("not found") != std::string::npos
                                        ? ", where decoding begins"
                                        : "")
                       : "The slice header at " + NalOffsetText(FUnit.Offset) + " cannot be read";
        return TStep::Failed;
    }
    FOpen.Overflow =
        FOpen.Overflow || FWalk.Overflow() ||
        FOpen.Bytes.size() + FUnitBytes.size() > static_cast<std::size_t>(kPictureSearchBound);
    if (!FOpen.Overflow) {
        if (IsSlice(type)) {
            FOpen.Slices.push_back({told.Head->first_mb_in_slice,
                                    {FOpen.Bytes.size(), FOpen.Bytes.size() + FUnitBytes.size()}});
        }
        FOpen.Bytes.insert(FOpen.Bytes.end(), FUnitBytes.begin(), FUnitBytes.end());
    }
    if (type == kNalSei && !FOpen.RecoveryFrames) {
        FOpen.RecoveryFrames = RecoveryFrameCount(told.Rbsp, told.RbspSize);
    }
    if (IsSlice(type) && told.Head->redundant_pic_cnt == 0) {
        const TSliceHead& slice = *told.Head;
        if (told.BeginsPicture && !FOpen.HasPicture) {
            FOpen.HasPicture = true;
            FOpen.FirstHead = slice;
            if (slice.nal_unit_type == kNalIdrSlice || slice.mmco5) {
                ++FPeriod;
            }
            FOpen.Period = FPeriod;
            FOpen.Poc = FOrder.Next(slice, *told.Sps);
            const TSeqParameterSet& sps = *told.Sps;
            const TVuiParameters& vui = sps.vui_parameters;
            if (sps.vui_parameters_present_flag != 0 && vui.chroma_loc_info_present_flag != 0) {
                FOpen.ChromaSampleLoc = static_cast<int>(vui.chroma_sample_loc_type_top_field);
            }
            if (sps.vui_parameters_present_flag != 0 && vui.timing_info_present_flag != 0 &&
                vui.num_units_in_tick != 0 && vui.time_scale != 0) {
                // Two ticks a frame; the fraction reduced so that it fits the header's numbers.
                std::uint64_t num = vui.time_scale;
                std::uint64_t den = std::uint64_t{vui.num_units_in_tick} * 2;
                const std::uint64_t common = std::gcd(num, den);
                num /= common;
                den /= common;
                if (num <= 0x7FFFFFFF && den <= 0x7FFFFFFF) {
                    FOpen.RateNum = static_cast<int>(num);
                    FOpen.RateDen = static_cast<int>(den);
                }
            }
            // Refused before any memory is taken for it.
            const std::uint32_t width = sps.pic_width_in_mbs_minus1 + 1;
            const std::uint32_t height =
                (sps.pic_height_in_map_units_minus1 + 1) * (sps.frame_mbs_only_flag != 0 ? 1 : 2);
            if (std::uint64_t{width} * height > kMaxFrameMbs || width > kMaxSideMbs ||
                height > kMaxSideMbs || width == 0 || height == 0) {
                FFailure = TooLargeMessage(width, height);
                return TStep::Failed;
            }
        }
        FOpen.AllIntra = FOpen.AllIntra && slice.slice_type % 5 == 2;
        FOpen.FromFirstMb = FOpen.FromFirstMb || slice.first_mb_in_slice == 0;
        const std::string name = SliceTypeName(slice.slice_type);
        std::size_t from = 0;
        bool known = false;
        while (from <= FOpen.SliceTypes.size() && !known) {
            const std::size_t end =
                std::min(FOpen.SliceTypes.find('/', from), FOpen.SliceTypes.size());
            known = FOpen.SliceTypes.compare(from, end - from, name) == 0;
            from = end + 1;
        }
        if (!known) {
            FOpen.SliceTypes += (FOpen.SliceTypes.empty() ? "" : "/") + name;
        }
    }
    return TStep::Continue;
}

// An IDR picture met after the walk has sent the selected picture is not decoded on: the
// pictures held back come out instead, and a later selection there begins afresh.
TAccessUnitDecoder::TStep TAccessUnitDecoder::CloseGroup(std::int64_t end, bool feedAhead) {
    TUnitGroup group = std::move(FOpen);
    FOpen = TUnitGroup{};
    FOpenUsed = false;
    group.End = end;
    if (feedAhead && group.HasPicture && group.FirstHead.nal_unit_type == kNalIdrSlice) {
        return DrainAll();
    }
    const TStep step = Send(group);
    group.Bytes = {};
    group.Slices = {};
    FDone.push_back(std::move(group));
    if (step == TStep::Continue) {
        Collect();
    }
    return step;
}

TAccessUnitDecoder::TStep TAccessUnitDecoder::Send(TUnitGroup& group) {
    if (!group.HasPicture) {
        return TStep::Continue;
    }
    if (group.Overflow) {
        FFailure = "The access unit at " + NalOffsetText(group.First) + " is larger than " +
                   std::to_string(kPictureSearchBound / 1048576) + " MiB";
        return TStep::Failed;
    }
    group.Index = ++FPictureCount;
    PairFields(group);
    // A decoder takes the slices of a picture in raster order only.
    if (std::is_sorted(group.Slices.begin(), group.Slices.end()) == false &&
        !group.Slices.empty()) {
        std::vector<std::uint8_t> ordered(
            group.Bytes.begin(),
            group.Bytes.begin() + static_cast<std::ptrdiff_t>(group.Slices.front().second.first));
        auto slices = group.Slices;
        std::stable_sort(slices.begin(), slices.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& slice : slices) {
            ordered.insert(ordered.end(),
                           group.Bytes.begin() + static_cast<std::ptrdiff_t>(slice.second.first),
                           group.Bytes.begin() + static_cast<std::ptrdiff_t>(slice.second.second));
        }
        const std::size_t tail = group.Slices.back().second.second;
        ordered.insert(ordered.end(), group.Bytes.begin() + static_cast<std::ptrdiff_t>(tail),
                       group.Bytes.end());
        group.Bytes.swap(ordered);
    }
    // The sets found before the walk's start go to the decoder ahead of the first group
    // that needs them: a later picture may name a set no earlier one did.
    std::vector<std::uint8_t> prelude;
    FContext->Sets().TakeFoundBefore(prelude);
    group.Bytes.insert(group.Bytes.begin(), prelude.begin(), prelude.end());
    // Counts restart at each IDR picture or operation 5; output never crosses one, so each
    // run between them gets its own range of numbers.
    TAccessUnitIn unit;
    unit.Data = group.Bytes.data();
    unit.Size = group.Bytes.size();
    unit.Tag = group.First;
    unit.OutputOrder = std::int64_t{group.Period} * (std::int64_t{1} << 33) + group.Poc;
    std::string error;
    if (!FDecoder.Send(unit, error)) {
        FFailure = DecoderErrorMessage(error);
        return TStep::Failed;
    }
    ++FUnitsSent;
    if (FProgress) {
        FProgress(FStart.Offset, FStart.Kind, FPictureCount);
    }
    return TStep::Continue;
}

// A field that follows a first field of the other parity with the same frame_num is its
// second field: the two come out of a decoder as one frame, under the first one's tag.
void TAccessUnitDecoder::PairFields(TUnitGroup& group) {
    group.Picture = group.First;
    group.KeepUntil = group.End;
    if (group.FirstHead.field_pic_flag == 0) {
        return;
    }
    for (auto before = FDone.rbegin(); before != FDone.rend(); ++before) {
        if (!before->HasPicture) {
            continue;
        }
        const TSliceHead& first = before->FirstHead;
        if (first.field_pic_flag != 0 && before->Picture == before->First && !before->Paired &&
            first.bottom_field_flag != group.FirstHead.bottom_field_flag &&
            first.frame_num == group.FirstHead.frame_num) {
            before->Paired = true;
            before->KeepUntil = group.End;
            group.Picture = before->First;
        }
        return;
    }
}

TAccessUnitDecoder::TStep TAccessUnitDecoder::DrainAll() {
    std::string error;
    FDrained = true;
    if (!FDecoder.Drain(error)) {
        FFailure = DecoderErrorMessage(error);
        return TStep::Failed;
    }
    Collect();
    return TStep::Continue;
}

// Pictures of groups that lie wholly before the one asked for are not copied: a later
// selection there begins afresh anyway, unless the picture is still kept.
void TAccessUnitDecoder::Collect() {
    std::int64_t tag = 0;
    const auto place = [this](std::int64_t first) -> TPicture* {
        const auto group =
            std::lower_bound(FDone.begin(), FDone.end(), first,
                             [](const TUnitGroup& g, std::int64_t at) { return g.First < at; });
        if (group == FDone.end() || group->First != first) {
            return nullptr; // from before a restart
        }
        group->Out = true;
        if (group->Paired) {
            // The second field's picture is the same frame.
            for (auto second = group + 1; second != FDone.end(); ++second) {
                if (second->HasPicture) {
                    second->Out = second->Picture == first;
                    break;
                }
            }
        }
        return group->KeepUntil <= FRequested ? nullptr : &FPictures[first];
    };
    while (FDecoder.Receive(place, tag)) {
        while (FPictures.size() > kKeptPictures) {
            auto oldest = FPictures.begin();
            if (oldest->first == FWaitFor) {
                ++oldest;
            }
            FPictures.erase(oldest);
        }
    }
}

const TAccessUnitDecoder::TUnitGroup* TAccessUnitDecoder::GroupHolding(std::int64_t offset) const {
    const auto after =
        std::upper_bound(FDone.begin(), FDone.end(), offset,
                         [](std::int64_t at, const TUnitGroup& g) { return at < g.First; });
    if (after == FDone.begin()) {
        return nullptr;
    }
    const TUnitGroup& group = *(after - 1);
    return offset < group.End ? &group : nullptr;
}

// Pictures of the same period that come before it in display order; those still to be
// decoded cannot come before a picture that is already out.
std::int32_t TAccessUnitDecoder::DisplayIndexOf(const TUnitGroup& group) const {
    std::int32_t before = 0;
    for (const TUnitGroup& g : FDone) {
        if (g.HasPicture && g.Period == group.Period && g.Poc < group.Poc) {
            ++before;
        }
    }
    return before;
}

bool TAccessUnitDecoder::Answer(std::int64_t offset, TPictureAnswer& answer) {
    const TUnitGroup* group = GroupHolding(offset);
    if (!group || !group->HasPicture) {
        return false;
    }
    const auto picture = FPictures.find(group->Picture);
    if (picture == FPictures.end()) {
        return false;
    }
    answer.Outcome = TPictureOutcome::Done;
    answer.Message.clear();
    answer.Decoded.Picture = picture->second;
    answer.Decoded.Picture.ChromaSampleLoc = group->ChromaSampleLoc;
    answer.Decoded.Picture.RateNum = group->RateNum;
    answer.Decoded.Picture.RateDen = group->RateDen;
    TPictureFacts& facts = answer.Decoded.Facts;
    facts.AccessUnitOffset = group->First;
    facts.SliceTypes = group->SliceTypes;
    facts.FrameNum = group->FirstHead.frame_num;
    facts.Poc = group->Poc;
    facts.StartOffset = FStart.Offset;
    facts.StartKind = FStart.Kind;
    facts.StartIsIdr = FStart.Kind == TStartKind::Idr;
    facts.Pictures = group->Index;
    facts.DecodeIndex = group->Index - 1;
    facts.DisplayIndex = DisplayIndexOf(*group);
    // The start's own picture comes first: its group and its recovery count.
    const TUnitGroup* first = nullptr;
    for (const TUnitGroup& g : FDone) {
        if (g.HasPicture) {
            first = &g;
            break;
        }
    }
    switch (FStart.Kind) {
    case TStartKind::Idr:
        // An IDR picture that lost its first slice is concealed from what the decoder
        // happens to hold.
        facts.Exact = first != nullptr && first->FromFirstMb;
        break;
    case TStartKind::RecoveryPoint: {
        // Exact once recovery_frame_cnt frames have passed, in display order from the
        // recovery point's picture on, within its period.
        std::uint32_t frames = 0;
        for (const TUnitGroup& g : FDone) {
            if (g.RecoveryFrames) {
                frames = *g.RecoveryFrames;
                break;
            }
        }
        const std::int32_t decoded = group->Index - (first ? first->Index : 1);
        facts.Exact = first != nullptr && group->Period == first->Period &&
                      group->Poc >= first->Poc && decoded >= static_cast<std::int32_t>(frames);
        break;
    }
    case TStartKind::IPicture:
        facts.Exact = group == first && group->AllIntra;
        break;
    }
    facts.Exact = facts.Exact && !(answer.Decoded.Picture.Corrupt && facts.StartIsIdr == false);
    return true;
}
