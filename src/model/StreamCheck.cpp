#include "model/StreamCheck.h"

#include "model/Levels.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/Checks.h"

#include <algorithm>

namespace {

const TRule kLevel("level-idc-unknown", TSeverity::Warning, "level_idc",
                   "level_idc names no level", "A.3");
const TRule kMaxFs("level-max-fs", TSeverity::Error, "pic_width_in_mbs_minus1",
                   "the picture is larger than the level's MaxFS allows", "A.3.1");
const TRule kMaxRefFrames("level-max-num-ref-frames", TSeverity::Error, "max_num_ref_frames",
                          "max_num_ref_frames must be at most the level's MaxDpbFrames",
                          "7.4.2.1.1");
const TRule kMaxDecBuffering("level-max-dec-frame-buffering", TSeverity::Error,
                             "max_dec_frame_buffering",
                             "max_dec_frame_buffering must be at most the level's MaxDpbFrames",
                             "E.2.1");
const TRule kNoHeader("nal-unit-empty", TSeverity::Error, nullptr,
                      "a start code must be followed by a NAL unit", "B.2");
const TRule kTooLarge("unit-not-checked-whole", TSeverity::Note, nullptr,
                      "the unit is too large for its every byte to be checked", "7.4.1");
const TRule kPpsIdRange("slice-pps-id-range", TSeverity::Error, "pic_parameter_set_id",
                        "pic_parameter_set_id must be at most 255", "7.4.3");
const TRule kMissingPps("slice-pps-missing", TSeverity::Error, "pic_parameter_set_id",
                        "the slice names a picture parameter set not sent before it", "7.4.3");
const TRule kMissingSps("slice-sps-missing", TSeverity::Error, "seq_parameter_set_id",
                        "the slice's picture parameter set names a sequence parameter set not "
                        "sent before it",
                        "7.4.2.2");
const TRule kUnreadablePps("slice-pps-unreadable", TSeverity::Error, "pic_parameter_set_id",
                           "the slice names a picture parameter set that cannot be read",
                           "7.4.3");
const TRule kUnreadableSps("slice-sps-unreadable", TSeverity::Error, "seq_parameter_set_id",
                           "the slice's picture parameter set names a sequence parameter set "
                           "that cannot be read",
                           "7.4.2.2");
const TRule kFirstNotIdr("stream-starts-without-idr", TSeverity::Note, "nal_unit_type",
                         "the first picture is not an IDR picture (a stream cut from another?)",
                         "7.4.1.2.2");
const TRule kIdrAfterEnd("idr-after-end-of-sequence", TSeverity::Error, "nal_unit_type",
                         "the picture after an end of sequence must be an IDR picture",
                         "7.4.1.2.3");
const TRule kFrameNumGap("frame-num-gap", TSeverity::Error, "frame_num",
                         "frame_num skips values but gaps_in_frame_num_value_allowed_flag is 0",
                         "7.4.3");
const TRule kPrimaryPicType("slice-type-primary-pic-type", TSeverity::Error, "slice_type",
                            "the slice type is not among those the delimiter's primary_pic_type "
                            "allows",
                            "7.4.2.4");
const TRule kDelimiterFirst("aud-not-first", TSeverity::Error, nullptr,
                            "an access unit delimiter must be the first unit of its access unit",
                            "7.4.1.2.3");
const TRule kAfterEndOfStream("unit-after-end-of-stream", TSeverity::Error, nullptr,
                              "an end of stream unit must be the last unit", "7.4.1.2.3");
const TRule kEndBeforePicture("end-of-sequence-before-picture", TSeverity::Error, nullptr,
                              "an end of sequence unit must follow its access unit's picture",
                              "7.4.1.2.3");
const TRule kFillerBeforePicture("filler-before-picture", TSeverity::Error, nullptr,
                                 "filler data must follow its access unit's first slice",
                                 "7.4.1.2.3");
const TRule kSpsChanged("sps-changed-without-idr", TSeverity::Error, "seq_parameter_set_id",
                        "the active sequence parameter set changes, and no IDR picture follows",
                        "7.4.1.2.1");
const TRule kNoPicture("access-unit-without-picture", TSeverity::Error, nullptr,
                       "an access unit must hold a primary coded picture", "7.4.1.2.3");

// What the check keeps of a unit: all of it, and what the walk reads, for when it is too
// large.
TUnitWants CheckWants(std::uint8_t header) {
    TUnitWants wants = WalkHeads(header);
    wants.Keep = true;
    return wants;
}

// FNV-1a of a set's payload: whether a set sent again says the same.
std::uint64_t Fingerprint(const std::uint8_t* bytes, std::int32_t size) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::int32_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    }
    return hash;
}

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

} // namespace

void CheckSpsLevel(const TSeqParameterSet& sps, TUnitProblems& problems) {
    const auto level = LevelOf(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
    if (!problems.Expect(level.has_value(), kLevel, sps.level_idc)) {
        return;
    }
    const std::uint64_t width = std::uint64_t{sps.pic_width_in_mbs_minus1} + 1;
    const std::uint64_t height = (2 - std::uint64_t{sps.frame_mbs_only_flag != 0}) *
                                 (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1);
    const std::uint64_t frameSize = width * height;
    const std::uint64_t side = 8 * std::uint64_t{level->MaxFS};
    if (!problems.Expect(frameSize <= level->MaxFS && width * width <= side &&
                             height * height <= side,
                         kMaxFs, static_cast<std::int64_t>(frameSize))) {
        return;
    }
    const std::uint32_t frames = MaxDpbFrames(*level, frameSize);
    problems.Expect(sps.num_ref_frames <= frames, kMaxRefFrames, sps.num_ref_frames);
    const TVuiParameters& vui = sps.vui_parameters;
    if (SpsPresence::Vui(sps) && VuiPresence::BitstreamRestriction(vui)) {
        problems.Expect(vui.max_dec_frame_buffering <= frames, kMaxDecBuffering,
                        vui.max_dec_frame_buffering);
    }
}

TStreamCheck::TStreamCheck(IProblems& sink, TSetStore& sets)
    : FSink(sink), FSets(sets), FSps(std::make_unique<TSeqParameterSet>()),
      FPps(std::make_unique<TPicParameterSet>()) {}

TStreamCheck::~TStreamCheck() = default;

void TStreamCheck::Unit(const TWalkUnit& unit, const std::uint8_t* bytes, std::int32_t size,
                        bool whole) {
    const TNalUnitSpan& span = unit.Span;
    TUnitProblems problems(FSink, span.Offset, span.Header);
    if (!problems.Expect(span.HasHeader, kNoHeader)) {
        return;
    }
    if (FAfterEndOfStream) {
        problems.Expect(false, kAfterEndOfStream);
        FAfterEndOfStream = false; // once, not for every unit after it
    }
    CheckNalHeader(span.Header, problems);
    // The payload after the header byte, as stored.
    const std::int32_t skip = whole ? 5 : 0;
    const std::uint8_t* payload = bytes + skip;
    const std::int32_t stored = std::max(size - skip, 0);
    problems.Expect(whole, kTooLarge);
    if (whole) {
        CheckPayloadBytes(payload, stored, problems);
    }
    if ((unit.BeginsAccessUnit || unit.BeganBefore) && !unit.HeldBack) {
        CloseAccessUnit();
        FAuOpen = true;
        FAuOffset = span.Offset;
        FAuHeader = span.Header;
    }
    const std::uint32_t type = unit.Type;
    if (IsSlice(type)) {
        Slice(unit, payload, stored, whole, problems);
        return;
    }
    // Every other unit is read whole; the walk keeps only what its rule reads.
    if (FRbsp.size() < static_cast<std::size_t>(stored)) {
        FRbsp.resize(static_cast<std::size_t>(stored));
    }
    std::int32_t n = 0;
    if (stored > 0) {
        Remove_emulation_prevention_three_bytes(payload, stored, FRbsp.data(), n);
    }
    const std::uint8_t* rbsp = FRbsp.data();
    if (whole) {
        CheckUnitPayload(type, rbsp, n, payload, stored, problems);
    }
    switch (type) {
    case kNalSps:
        Sps(rbsp, n, problems);
        break;
    case kNalPps:
        Pps(rbsp, n, problems);
        break;
    case kNalPartitionB:
    case kNalPartitionC:
        if (const TSeqParameterSet* sps = FSets.Sps(std::nullopt)) {
            CheckUnitTypeForProfile(type, *sps, problems);
        }
        FAuHasSlice = true;
        break;
    case kNalDelimiter:
        FAuPrimaryPicType = n > 0 ? rbsp[0] >> 5 : -1;
        problems.Expect(unit.BeginsAccessUnit, kDelimiterFirst);
        break;
    case kNalEndOfSequence:
        problems.Expect(FAuHasSlice, kEndBeforePicture);
        FAfterEndOfSequence = true;
        break;
    case kNalEndOfStream:
        FAfterEndOfStream = true;
        break;
    case kNalFiller:
        problems.Expect(FAuHasSlice, kFillerBeforePicture);
        break;
    default:
        break;
    }
}

void TStreamCheck::Sps(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        ReportEndsEarly(problems);
        return;
    }
    Parse_seq_parameter_set_rbsp(reader, *FSps);
    if (reader.Error() != 0) {
        ReportEndsEarly(problems);
        return;
    }
    CheckSps(*FSps, problems);
    CheckSpsLevel(*FSps, problems);
    // The set in use may change only where a coded video sequence begins: before an IDR
    // picture, which the next picture tells.
    const std::uint32_t id = FSps->seq_parameter_set_id;
    if (id < FSpsPrints.size()) {
        const std::uint64_t print = Fingerprint(rbsp, size);
        if (FActiveSps == id && FSpsPrints[id] && *FSpsPrints[id] != print && !FSpsChange) {
            FSpsChange = TProblem{problems.Offset(), problems.Header(), &kSpsChanged, true, id};
        }
        FSpsPrints[id] = print;
    }
    CheckTrailingBits(rbsp, size, FSps->trailing_bits_at, problems);
}

void TStreamCheck::Pps(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        ReportEndsEarly(problems);
        return;
    }
    // The sequence set the picture set names tells how many scaling lists it holds.
    reader.ReadUE();
    const std::uint32_t spsId = reader.ReadUE();
    const TSeqParameterSet* sps = reader.Error() == 0 ? FSets.Sps(spsId) : nullptr;
    const std::uint32_t chroma =
        reader.Error() == 0 ? GoverningChromaFormat(FSets, spsId).value_or(1) : 1;
    reader.SetData(rbsp, size);
    *FPps = TPicParameterSet{};
    Parse_pic_parameter_set_rbsp(reader, *FPps, chroma);
    if (reader.Error() != 0) {
        ReportEndsEarly(problems);
        return;
    }
    CheckPps(*FPps, sps, problems);
    CheckTrailingBits(rbsp, size, FPps->trailing_bits_at, problems);
}

void TStreamCheck::Slice(const TWalkUnit& unit, const std::uint8_t* payload, std::int32_t size,
                         bool whole, TUnitProblems& problems) {
    FAuHasSlice = true;
    if (unit.Head == nullptr || unit.Sps == nullptr || unit.Pps == nullptr) {
        SliceUnread(unit.Rbsp, unit.RbspSize, problems);
        return;
    }
    const TSliceHead& head = *unit.Head;
    const TSeqParameterSet& sps = *unit.Sps;
    CheckSliceHead(head, *unit.Pps, sps, problems);
    CheckUnitTypeForProfile(unit.Type, sps, problems);
    if (whole) {
        CheckSliceTail(payload, size, *unit.Pps, problems);
    }
    if (FAuPrimaryPicType >= 0) {
        problems.Expect(SliceTypeAllowed(static_cast<std::uint32_t>(FAuPrimaryPicType),
                                         head.slice_type),
                        kPrimaryPicType, head.slice_type);
    }
    if (unit.BeginsPicture && head.redundant_pic_cnt == 0) {
        Picture(head, sps, problems);
    }
}

void TStreamCheck::SliceUnread(const std::uint8_t* rbsp, std::int32_t size,
                               TUnitProblems& problems) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        ReportEndsEarly(problems);
        return;
    }
    reader.ReadUE(); // first_mb_in_slice
    reader.ReadUE(); // slice_type
    const std::uint32_t ppsId = reader.ReadUE();
    if (reader.Error() != 0) {
        ReportEndsEarly(problems);
        return;
    }
    if (!problems.Expect(ppsId <= 255, kPpsIdRange, ppsId)) {
        return;
    }
    // A set that was there but could not be read has its own problem where it lies.
    const TPicParameterSet* pps = FSets.Pps(ppsId);
    if (pps == nullptr) {
        const bool refused = FSets.RefusedAt("pic_parameter_set_id", ppsId).has_value();
        problems.Expect(false, refused ? kUnreadablePps : kMissingPps, ppsId);
        return;
    }
    const std::uint32_t spsId = pps->seq_parameter_set_id;
    if (FSets.Sps(spsId) == nullptr) {
        const bool refused = FSets.RefusedAt("seq_parameter_set_id", spsId).has_value();
        problems.Expect(false, refused ? kUnreadableSps : kMissingSps, spsId);
        return;
    }
    ReportEndsEarly(problems);
}

void TStreamCheck::Picture(const TSliceHead& head, const TSeqParameterSet& sps,
                           TUnitProblems& problems) {
    const bool idr = head.nal_unit_type == kNalIdrSlice;
    if (!FSeenPicture) {
        FSeenPicture = true;
        problems.Expect(idr, kFirstNotIdr);
    }
    if (FAfterEndOfSequence) {
        FAfterEndOfSequence = false;
        problems.Expect(idr, kIdrAfterEnd);
    }
    if (FSpsChange && !idr) {
        FSink.Problem(*FSpsChange);
    }
    FSpsChange.reset();
    FActiveSps = sps.seq_parameter_set_id;
    if (idr) {
        FPrevRefFrameNum = 0;
    } else if (FPrevRefFrameNum && sps.gaps_in_frame_num_value_allowed_flag == 0) {
        // The same frame_num (the second field of a pair, pictures that are not
        // references) or the next one.
        const std::uint64_t max = std::uint64_t{1} << std::min(sps.log2_max_frame_num_minus4 + 4, 16u);
        const std::uint64_t prev = *FPrevRefFrameNum;
        problems.Expect(head.frame_num == prev || head.frame_num == (prev + 1) % max,
                        kFrameNumGap, head.frame_num);
    }
    if (head.nal_ref_idc != 0) {
        FPrevRefFrameNum = head.mmco5 ? 0 : head.frame_num;
    }
}

void TStreamCheck::CloseAccessUnit() {
    if (FAuOpen && !FAuHasSlice) {
        TUnitProblems(FSink, FAuOffset, FAuHeader).Expect(false, kNoPicture);
    }
    FAuOpen = false;
    FAuHasSlice = false;
    FAuPrimaryPicType = -1;
}

void TStreamCheck::End() {
    CloseAccessUnit();
}

bool CheckStream(FileStream& stream, IProblems& sink, const std::atomic<bool>* cancel) {
    TUnitCursor cursor(stream, 4 << 20, true);
    cursor.SetCancel(cancel);
    // From the file's start: no set lies before it to look back for.
    TWalkContext walk(cursor, nullptr);
    walk.Begin(0);
    TStreamCheck check(sink, walk.Sets());
    std::vector<std::uint8_t> bytes;
    TWalkUnit unit;
    while (walk.Next(unit, CheckWants, &bytes, kCheckUnitBytes)) {
        const bool whole = !cursor.Overflow();
        const std::vector<std::uint8_t>& kept = whole ? bytes : cursor.Head();
        check.Unit(unit, kept.data(), static_cast<std::int32_t>(kept.size()), whole);
        bytes.clear();
    }
    if (cursor.Cancelled()) {
        return false;
    }
    check.End();
    return true;
}
