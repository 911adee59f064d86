#include "decode/AccessUnitDecoder.h"

#include "decode/DpbBound.h"
#include "model/Levels.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "syntax/BitStream4.h"
#include "model/WalkContext.h"
#include "syntax/ParameterSetFinder.h"

#include <algorithm>
#include <limits>
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

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

// The units that may come before a picture's first slice in its access unit: those that
// open one, and filler and SPS extensions among them.
bool LeadsToPicture(std::uint32_t type) {
    return OpensAccessUnit(type) || type == kNalFiller || type == kNalSpsExtension;
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

// Access units the decoder refused that a picture's line names; more are counted.
constexpr std::size_t kRejectedNamed = 3;

// How every warning on a picture begins.
constexpr const char* kMayDiffer = "the picture may differ from the stream's: ";

// What the decoder said of a picture, one reason a line.
void AddDecoderDamage(const TPicture& picture, bool startExplains, std::vector<std::string>& into) {
    static constexpr std::pair<unsigned, const char*> kTexts[] = {
        {kDecodeInvalidData, "the decoder found data it could not read"},
        {kDecodeMissingReference, "the decoder lacked a reference picture"},
        {kDecodeConcealed, "the decoder concealed damaged macroblocks"},
        {kDecodeSlicesMissing, "the decoder could not decode all of its slices"},
    };
    for (const auto& [bit, text] : kTexts) {
        if ((picture.DecodeErrors & bit) != 0) {
            into.emplace_back(text);
        }
    }
    // A start short of an IDR picture explains a picture the decoder has not yet seen
    // recover; after one, the decoder only says so when something went missing on the way
    // (a new sequence without an IDR picture, say).
    if (picture.Corrupt && picture.DecodeErrors == 0 && !startExplains) {
        into.emplace_back("the decoder marked it as decoded without all it refers to");
    }
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

bool AnyLevelAllows(std::uint64_t widthInMbs, std::uint64_t heightInMbs) {
    const std::uint64_t maxFs = HighestLevel().MaxFS;
    // No side over the square root of 8 frame sizes.
    return widthInMbs > 0 && heightInMbs > 0 && widthInMbs * heightInMbs <= maxFs &&
           widthInMbs * widthInMbs <= 8 * maxFs && heightInMbs * heightInMbs <= 8 * maxFs;
}

std::string TooLargeMessage(std::uint64_t widthInMbs, std::uint64_t heightInMbs) {
    return "The picture is " + std::to_string(widthInMbs * 16) + "x" +
           std::to_string(heightInMbs * 16) + ", larger than any level allows (level " +
           HighestLevel().Name + ": at most " + std::to_string(HighestLevel().MaxFS) +
           " macroblocks, no side over the square root of 8 times that)";
}

std::string InexactNote(const TPictureFacts& facts) {
    if (facts.StartExact) {
        return {};
    }
    return std::string(kMayDiffer) + "decoding began at the " +
           StartText(facts.StartOffset, facts.StartKind) + ", and references were missing";
}

std::vector<std::string> PictureWarnings(const TDecodedPicture& decoded) {
    std::vector<std::string> lines;
    if (!decoded.Facts.StartExact) {
        lines.push_back(InexactNote(decoded.Facts));
    }
    for (const std::string& damage : decoded.Facts.Damage) {
        lines.push_back(kMayDiffer + damage);
    }
    return lines;
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
    for (const std::string& warning : PictureWarnings(decoded)) {
        line += "; " + warning;
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
        if (answer.Outcome != TPictureOutcome::Done || answer.Decoded.Facts.StartExact ||
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
        const bool before = LeadsToPicture(type);
        if (unit.Offset != offset || !before) {
            break;
        }
        // The units that come before a picture, and filler among them, lead to its slice.
        while (probe.Next(unit)) {
            const std::uint32_t next = unit.HasHeader ? NalUnitType(unit.Header) : 0;
            if (IsSlice(next)) {
                return unit.Offset;
            }
            if (!LeadsToPicture(next)) {
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
                const std::optional<TSliceOpening> opening = ReadSliceOpening(rbsp.data(), size);
                if (opening && opening->first_mb_in_slice == 0 && opening->slice_type % 5 == 2) {
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
    FFrameNumRun = 0;
    FFrameNumSeen = false;
    FSequence.clear();
    FSequenceBreak.clear();
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
        if (group && group->LeftOut) {
            answer.Message = group->Rejected;
            answer.Message[0] = 'T';
            return answer;
        }
        if (FDrained) {
            if (!group) {
                answer.Message = NoPictureMessage();
            } else if (!group->Rejected.empty()) {
                answer.Message = group->Rejected;
                answer.Message[0] = 'T'; // a line of its own
            } else {
                answer.Message = DecoderErrorMessage("the picture did not come out");
            }
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
        if (!missing.empty()) {
            FFailure = missing + (missing.find("not found") != std::string::npos
                                      ? ", where decoding begins"
                                      : "");
            return TStep::Failed;
        }
        // Left out, as a decoder drops a slice it cannot read; the pictures after it say so.
        const std::string unreadable =
            "the slice header at " + NalOffsetText(FUnit.Offset) + " cannot be read";
        if (FOpen.HasPicture) {
            FOpen.Rejected = unreadable + ": the slice was left out";
            return TStep::Continue;
        }
        FOpen.HasPicture = true;
        FOpen.LeftOut = true;
        FOpen.Rejected = unreadable + ": its access unit was left out";
        FOpen.Period = FPeriod;
        FOpen.Poc = std::numeric_limits<std::int32_t>::max(); // before no other picture
        return CloseGroup(FUnit.Offset + FUnit.Length, feedAhead);
    }
    if (type == kNalSps) {
        BoundSequenceSetUnit(FUnitBytes); // what the decoder may hold, before it sees the set
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
            const TSeqParameterSet& sps = *told.Sps;
            if (slice.nal_unit_type == kNalIdrSlice || slice.mmco5) {
                ++FPeriod;
            }
            FOpen.MaxFrameNum = std::uint32_t{1}
                                << std::min<std::uint32_t>(sps.log2_max_frame_num_minus4 + 4, 16);
            if (FFrameNumSeen) {
                // frame_num moves on modulo MaxFrameNum; a picture with its own frame_num
                // (a second field, a non-reference picture) moves it by 0.
                FFrameNumRun +=
                    (slice.frame_num + FOpen.MaxFrameNum - FLastFrameNum % FOpen.MaxFrameNum) %
                    FOpen.MaxFrameNum;
            }
            FLastFrameNum = slice.frame_num;
            FFrameNumSeen = true;
            FOpen.FrameNumRun = FFrameNumRun;
            FOpen.Reference = slice.nal_ref_idc != 0;
            FOpen.Period = FPeriod;
            FOpen.Poc = static_cast<std::int32_t>(FOrder.Next(slice, sps).Poc);
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
            const std::uint64_t width = std::uint64_t{sps.pic_width_in_mbs_minus1} + 1;
            const std::uint64_t height = (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
                                         (sps.frame_mbs_only_flag != 0 ? 1 : 2);
            if (!AnyLevelAllows(width, height)) {
                FFailure = TooLargeMessage(width, height);
                return TStep::Failed;
            }
            FOpen.BoundNote = ReferenceBoundNote(sps);
            // A new sequence takes effect at an IDR picture only: its pictures cannot refer
            // to pictures of another size or sampling.
            const std::string sequence = std::to_string(width * 16) + "x" +
                                         std::to_string(height * 16) + ", chroma " +
                                         std::to_string(sps.chroma_format_idc) + ", " +
                                         std::to_string(sps.bit_depth_luma_minus8 + 8) + " bits";
            if (slice.nal_unit_type == kNalIdrSlice) {
                FSequenceBreak.clear();
            } else if (!FSequence.empty() && sequence != FSequence) {
                FSequenceBreak = "the sequence changed from " + FSequence + " to " + sequence +
                                 " at " + NalOffsetText(FOpen.First) + " without an IDR picture";
            }
            FSequence = sequence;
            FOpen.SequenceBreak = FSequenceBreak;
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
    if (group.LeftOut) {
        return TStep::Continue;
    }
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
    BoundSequenceSetsIn(prelude);
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
        // As a player would, the decoder goes on with the next access unit; the pictures
        // the refused one touches say so.
        const std::int64_t failed = FDecoder.FailedTag(unit.Tag);
        const auto done = std::find_if(FDone.begin(), FDone.end(),
                                       [&](const TUnitGroup& g) { return g.First == failed; });
        TUnitGroup& refused = done != FDone.end() ? *done : group;
        refused.Rejected = "the decoder refused the access unit at " +
                           NalOffsetText(refused.First) + ": " +
                           (error.empty() ? "no reason given" : error);
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
    // Pictures nobody asked for are still looked at: damage in a reference picture is
    // damage in every picture after it.
    TPicture* placed = nullptr;
    const auto place = [this, &placed](std::int64_t first) -> TPicture* {
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
        placed = group->KeepUntil <= FRequested ? &FScratch : &FPictures[first];
        return placed;
    };
    while (FDecoder.Receive(place, tag)) {
        if (placed != nullptr) {
            std::vector<std::string> damage;
            AddDecoderDamage(*placed, true, damage);
            const auto group =
                std::lower_bound(FDone.begin(), FDone.end(), tag,
                                 [](const TUnitGroup& g, std::int64_t at) { return g.First < at; });
            if (!damage.empty() && group != FDone.end() && group->First == tag) {
                group->Damaged = damage.front();
            }
            if (placed == &FScratch) {
                FScratch = TPicture{}; // only its marks were wanted
            }
            placed = nullptr;
        }
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

// Whether decoding from the start, whose picture is first's, makes group's picture the
// stream's own.
bool TAccessUnitDecoder::StartMakesExact(const TUnitGroup& first, const TUnitGroup& group) const {
    switch (FStart.Kind) {
    case TStartKind::Idr:
        // An IDR picture that lost its first slice is concealed from what the decoder
        // happens to hold.
        return first.FromFirstMb;
    case TStartKind::RecoveryPoint: {
        // From the output position of the reference picture the recovery point names, in
        // the same period. An intra recovery point's picture (an open GOP) makes that
        // certain; a gradual refresh has only the encoder's count for it, which can fall
        // short (an encoder's refresh with B pictures was found whole only dozens of
        // pictures later), so the next recovery point's refresh must have passed as well.
        const TUnitGroup* own = nullptr;
        const TUnitGroup* next = nullptr;
        for (const TUnitGroup& g : FDone) {
            if (g.RecoveryFrames && g.HasPicture && !g.LeftOut) {
                (own == nullptr ? own : next) = &g;
                if (next != nullptr) {
                    break;
                }
            }
        }
        if (own == nullptr || group.Period != first.Period) {
            return false;
        }
        const auto covers = [&](const TUnitGroup* point) {
            const TUnitGroup* recovered = point != nullptr ? RecoveredAt(*point) : nullptr;
            return recovered != nullptr && recovered->Period == group.Period &&
                   group.Poc >= recovered->Poc && group.Poc >= first.Poc;
        };
        return covers(own) && (own->AllIntra || covers(next));
    }
    case TStartKind::IPicture: {
        // A frame, or a field pair both of whose fields are intra: the frame given out for a
        // first field holds its second.
        if (&group != &first || !group.AllIntra) {
            return false;
        }
        if (!group.Paired) {
            return true;
        }
        for (auto g = FDone.begin() + (&group - FDone.data()) + 1; g != FDone.end(); ++g) {
            if (g->HasPicture) {
                return g->AllIntra;
            }
        }
        return false;
    }
    }
    return false;
}

// The reference picture whose frame_num is the recovery point's (point: its access unit)
// moved on by recovery_frame_cnt; none while the walk has not reached it, and for a count
// of MaxFrameNum or more, which names no picture.
const TAccessUnitDecoder::TUnitGroup*
TAccessUnitDecoder::RecoveredAt(const TUnitGroup& point) const {
    const std::uint64_t frames = point.RecoveryFrames.value_or(0);
    if (frames >= point.MaxFrameNum) {
        return nullptr;
    }
    for (auto g = FDone.begin() + (&point - FDone.data()); g != FDone.end(); ++g) {
        if (g->Period != point.Period) {
            return nullptr;
        }
        if (g->HasPicture && !g->LeftOut && g->Reference &&
            g->FrameNumRun - point.FrameNumRun >= frames) {
            return &*g;
        }
    }
    return nullptr;
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
    // A reference picture decoded before it that has not come out yet may be damaged, which
    // only its coming out tells: the walk goes on until it has.
    for (const TUnitGroup& g : FDone) {
        if (g.First >= group->First) {
            break;
        }
        if (!FDrained && g.HasPicture && g.Reference && !g.Out && !g.LeftOut &&
            g.Rejected.empty() && g.Period == group->Period) {
            return false;
        }
    }
    answer.Outcome = TPictureOutcome::Done;
    answer.Message.clear();
    if (FHandOver) {
        answer.Decoded.Picture = std::move(picture->second);
        FPictures.erase(picture);
    } else {
        answer.Decoded.Picture = picture->second;
    }
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
    facts.StartExact = first != nullptr && StartMakesExact(*first, *group);
    facts.Damage.clear();
    AddDecoderDamage(answer.Decoded.Picture, !facts.StartExact, facts.Damage);
    for (const std::string* note : {&group->BoundNote, &group->SequenceBreak}) {
        if (!note->empty()) {
            facts.Damage.push_back(*note);
        }
    }
    // An access unit the decoder refused touches every picture after it up to the next
    // IDR picture: any of them may refer to it. A few are named, the rest counted. So does
    // a reference picture the decoder said was damaged (the first is named).
    std::size_t rejected = 0;
    bool damagedReference = false;
    for (const TUnitGroup& g : FDone) {
        if (g.First >= group->First) {
            if (g.First == group->First && !g.Rejected.empty() && ++rejected <= kRejectedNamed) {
                facts.Damage.push_back(g.Rejected);
            }
            break;
        }
        if (!damagedReference && !g.Damaged.empty() && g.Reference && g.Period == group->Period &&
            g.Picture != group->Picture) {
            damagedReference = true;
            facts.Damage.push_back("the reference picture at " + NalOffsetText(g.First) +
                                   ", decoded before it, is damaged: " + g.Damaged);
        }
        if (!g.Rejected.empty() && g.Period == group->Period && ++rejected <= kRejectedNamed) {
            facts.Damage.push_back(g.Rejected);
        }
    }
    if (rejected > kRejectedNamed) {
        facts.Damage.push_back(
            Plural(static_cast<std::int64_t>(rejected - kRejectedNamed), "more access unit") +
            " before it the decoder refused");
    }
    facts.Exact = facts.StartExact && facts.Damage.empty();
    return true;
}
