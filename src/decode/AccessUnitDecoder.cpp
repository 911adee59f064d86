#include "decode/AccessUnitDecoder.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/ParameterSetFinder.h"

#include <algorithm>

namespace {

// A slice header's elements up to redundant_pic_cnt fit well within these.
constexpr std::int32_t kSliceHeadBytes = 256;
// Parameter sets and SEI messages are read whole, up to this.
constexpr std::int32_t kSetBytes = 65536;
// Pictures kept after they came out, for the selections that follow.
constexpr std::size_t kKeptPictures = 8;
constexpr std::int32_t kFirstSearchBlock = 65536;
constexpr std::int32_t kLargestSearchBlock = 4194304;

TUnitWants WantsOf(std::uint8_t header) {
    const std::uint32_t type = NalUnitType(header);
    if (RoleOf(type) == TUnitRole::Slice) {
        return {kSliceHeadBytes, true};
    }
    if (type == kSeiType || type == kSeqParameterSetType || type == kPicParameterSetType) {
        return {kSetBytes, true};
    }
    // Filler data is of no use to the decoder, and may be long.
    return {0, type != kFillerType};
}

std::string Plural(std::int64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// "IDR at 0x..." or "recovery point at 0x...".
std::string StartText(std::int64_t startOffset, bool startIsIdr) {
    return std::string(startIsIdr ? "IDR" : "recovery point") + " at " + NalOffsetText(startOffset);
}

} // namespace

std::string NoStartMessage() {
    return "No IDR picture or recovery point within " +
           std::to_string(kPictureSearchBound / 1048576) + " MiB before this picture";
}

std::string ProgressLine(std::int64_t startOffset, bool startIsIdr, std::int32_t pictures) {
    return "Decoding from the " + StartText(startOffset, startIsIdr) + ": " +
           Plural(pictures, "picture") + " so far";
}

std::string NoPictureMessage() {
    return "No picture in this access unit";
}

std::string DecoderErrorMessage(const std::string& reason) {
    return "The decoder reported an error: " + reason;
}

std::string PictureLine(const TDecodedPicture& decoded) {
    const TPictureFacts& f = decoded.Facts;
    std::string line =
        std::to_string(decoded.Picture.Width) + "x" + std::to_string(decoded.Picture.Height) +
        ", slices " + f.SliceTypes + ", frame_num " + std::to_string(f.FrameNum) + ", POC " +
        std::to_string(f.Poc) + ", decoded from the " + StartText(f.StartOffset, f.StartIsIdr) +
        " (" + Plural(f.Pictures, "picture") + ")";
    if (!f.StartIsIdr) {
        line += ", references were missing";
    } else if (decoded.Picture.Corrupt) {
        line += ", with decoding errors";
    }
    return line;
}

TAccessUnitDecoder::TAccessUnitDecoder(FileStream& stream, std::int64_t fileSize,
                                       IPictureDecoder& decoder)
    : FStream(stream), FFileSize(fileSize), FDecoder(decoder),
      FFinder(std::make_unique<TParameterSetFinder>(stream)), FWalk(stream, fileSize),
      FProbe(stream, fileSize, 65536) {}

TAccessUnitDecoder::~TAccessUnitDecoder() = default;

TPictureAnswer TAccessUnitDecoder::Decode(std::int64_t offset, const std::atomic<bool>* cancel) {
    std::int64_t walkStart = 0;
    if (CanAnswer(offset)) {
        // Unless a start lies between the walk and the selection: decoding begins there
        // afresh, as it would for a selection in a decoder of its own, and the pictures
        // before it are not decoded for nothing.
        const std::int64_t frontier = FWalk.Position();
        if (frontier < 0 || offset < frontier || !FindStart(offset, frontier, walkStart)) {
            return WalkTo(offset, cancel);
        }
        ++FColdStarts;
        BeginWalk(walkStart);
        return WalkTo(offset, cancel);
    }
    ++FColdStarts;
    FValid = false;
    if (!FindStart(offset, std::max<std::int64_t>(offset - kPictureSearchBound, 0), walkStart)) {
        TPictureAnswer answer;
        answer.Message = NoStartMessage();
        return answer;
    }
    BeginWalk(walkStart);
    return WalkTo(offset, cancel);
}

// The walk in hand answers for offset when the picture is kept, its access unit has none, or
// the walk has yet to reach it or to give it out; otherwise decoding begins afresh.
bool TAccessUnitDecoder::CanAnswer(std::int64_t offset) const {
    if (!FValid || offset < FWalkStart || offset - FStartOffset > kPictureSearchBound) {
        return false;
    }
    if (const TUnitGroup* group = GroupHolding(offset)) {
        return !group->HasPicture || FPictures.count(group->First) != 0 ||
               (!group->Out && !FDrained);
    }
    return !FDrained && (FOpenUsed ? offset >= FOpen.First
                                   : FWalk.Position() >= 0 && offset >= FWalk.Position());
}

bool TAccessUnitDecoder::IsStartUnit(std::uint8_t header, const std::uint8_t* afterHeader,
                                     std::size_t size) {
    const std::uint32_t type = NalUnitType(header);
    if (type == kIdrSliceType) {
        const std::vector<std::uint8_t> payload =
            UnitPayload(afterHeader, std::min<std::size_t>(size, 32));
        std::uint32_t first = 0;
        std::uint32_t pps = 0;
        return ReadSliceIds(payload.data(), static_cast<std::int32_t>(payload.size()), first,
                            pps) &&
               first == 0;
    }
    if (type == kSeiType) {
        const std::vector<std::uint8_t> payload = UnitPayload(afterHeader, size);
        return HoldsRecoveryPoint(payload.data(), static_cast<std::int32_t>(payload.size()));
    }
    return false;
}

// A unit that comes before its picture (an SEI, a parameter set, a delimiter) belongs to
// the picture after it, which may be itself the start: that is looked for first. Otherwise
// the start is the nearest one back from the unit, not below floor.
bool TAccessUnitDecoder::FindStart(std::int64_t offset, std::int64_t floor,
                                   std::int64_t& walkStart) {
    const std::vector<std::uint8_t> head = ReadUnitAt(FStream, FFileSize, offset, 5);
    if (head.empty()) {
        return false;
    }
    const int startCode = StartCodeLength(head.data(), static_cast<std::int64_t>(head.size()));
    const bool hasHeader = static_cast<int>(head.size()) > startCode;
    if (hasHeader && RoleOf(NalUnitType(head[static_cast<std::size_t>(startCode)])) ==
                         TUnitRole::BeforePicture) {
        TWalkUnit unit;
        FProbe.Start(offset);
        while (FProbe.Next(unit, WantsOf, nullptr, 0) &&
               unit.Offset - offset <= kPictureSearchBound) {
            if (!unit.HasHeader) {
                continue;
            }
            const TUnitRole role = RoleOf(NalUnitType(unit.Header));
            if (role == TUnitRole::Slice || role == TUnitRole::BeforePicture) {
                if (IsStartUnit(unit.Header, unit.Head.data(), unit.Head.size())) {
                    walkStart = offset;
                    return true;
                }
            }
            if (role != TUnitRole::BeforePicture) {
                break;
            }
        }
    }
    const std::optional<std::int64_t> start = SearchStartBack(offset, floor);
    if (!start) {
        return false;
    }
    walkStart = *start;
    return true;
}

// Reads back from anchor in growing blocks, each a little past its top so that a unit
// beginning just below it brings its head along, and takes the nearest start found.
std::optional<std::int64_t> TAccessUnitDecoder::SearchStartBack(std::int64_t anchor,
                                                                std::int64_t floor) {
    std::int64_t top = anchor + 1; // start codes beginning below top are still to search
    std::int32_t size = kFirstSearchBlock;
    std::vector<std::uint8_t> block;
    while (top > floor) {
        const std::int64_t low = std::max(floor, top - size);
        // One byte before low tells whether a start code there is the tail of a longer one.
        const std::int64_t from = low > 0 ? low - 1 : 0;
        const std::int64_t to = std::min(FFileSize, top + 4 + kSliceHeadBytes);
        block.resize(static_cast<std::size_t>(to - from));
        const std::int32_t n = ReadWithinSize(FStream, from, block.data(),
                                              static_cast<std::int32_t>(to - from), FFileSize);
        const std::int64_t lastBegin = top - 1 - from;
        std::int64_t best = -1;
        for (std::int64_t at = FindStartCode(block.data(), n, 0, lastBegin); at >= 0;) {
            const int startCode = StartCodeLength(block.data() + at, n - at);
            const std::int64_t headerAt = at + startCode;
            if (from + at >= low && headerAt < n) {
                const std::uint8_t header = block[static_cast<std::size_t>(headerAt)];
                const std::uint32_t type = NalUnitType(header);
                bool start = false;
                if (type == kIdrSliceType) {
                    start = IsStartUnit(header, block.data() + headerAt + 1,
                                        static_cast<std::size_t>(n - headerAt - 1));
                } else if (type == kSeiType && from + at < anchor) {
                    // Whole in the block, or read on its own.
                    const std::int64_t end = FindStartCode(block.data(), n, headerAt, n - 3);
                    if (end >= 0) {
                        start = IsStartUnit(header, block.data() + headerAt + 1,
                                            static_cast<std::size_t>(end - headerAt - 1));
                    } else {
                        const std::vector<std::uint8_t> unit =
                            ReadUnitAt(FStream, FFileSize, from + at, kSetBytes);
                        const auto skip = static_cast<std::size_t>(startCode) + 1;
                        start = unit.size() > skip &&
                                IsStartUnit(header, unit.data() + skip, unit.size() - skip);
                    }
                }
                if (start) {
                    best = from + at;
                }
            }
            at = FindStartCode(block.data(), n, at + startCode, lastBegin);
        }
        if (best >= 0) {
            return best;
        }
        top = low;
        size = std::min(size * 2, kLargestSearchBlock);
    }
    return std::nullopt;
}

void TAccessUnitDecoder::BeginWalk(std::int64_t walkStart) {
    FDecoder.Reset();
    FValid = true;
    FDrained = false;
    FWalkStart = walkStart;
    FDone.clear();
    FOpen = TUnitGroup{};
    FOpenUsed = false;
    FPrelude.clear();
    FPreludePps.clear();
    FSpsById.clear();
    FPpsById.clear();
    FOrder = TPictureOrder{};
    FPictureCount = 0;
    FStartOffset = walkStart;
    FStartIsIdr = true;
    FPictures.clear();
    FWaitFor = -1;
    FWalk.Start(walkStart);
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
        FWaitFor = group ? group->First : -1;
        const TStep step = TakeUnit(group != nullptr);
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
    if (!FWalk.Next(FUnit, WantsOf, &FUnitBytes, static_cast<std::size_t>(kPictureSearchBound))) {
        if (FOpenUsed) {
            const TStep step = CloseGroup(FFileSize, feedAhead);
            if (step != TStep::Continue || FDrained) {
                return step;
            }
        }
        return DrainAll();
    }
    if (!FUnit.HasHeader) {
        return TStep::Continue;
    }
    const std::uint8_t header = FUnit.Header;
    const std::uint32_t type = NalUnitType(header);
    const TUnitRole role = RoleOf(type);
    bool newGroup = role == TUnitRole::BeforePicture && FOpenUsed && FOpen.HasPicture;
    TSliceHead head;
    const TSeqParameterSet* sps = nullptr;
    bool sliceRead = false;
    if (role == TUnitRole::Slice) {
        const std::vector<std::uint8_t> payload = UnitPayload(FUnit.Head.data(), FUnit.Head.size());
        const auto size = static_cast<std::int32_t>(payload.size());
        std::uint32_t first = 0;
        std::uint32_t ppsId = 0;
        if (ReadSliceIds(payload.data(), size, first, ppsId)) {
            const TPicParameterSet* pps = PpsFor(ppsId, sps);
            if (pps == nullptr) {
                return TStep::Failed;
            }
            sliceRead = ReadSliceHead(payload.data(), size, header, *sps, *pps, head);
        }
        newGroup = sliceRead && FOpenUsed && FOpen.HasPicture &&
                   BeginsNewPicture(FOpen.LastHead, head, *sps);
    }
    if (newGroup) {
        const TStep step = CloseGroup(FUnit.Offset, feedAhead);
        if (step != TStep::Continue || FDrained) {
            return step;
        }
    }
    if (!FOpenUsed) {
        FOpen = TUnitGroup{};
        FOpen.First = FUnit.Offset;
        FOpenUsed = true;
    }
    FOpen.Overflow =
        FOpen.Overflow || FUnit.Overflow ||
        FOpen.Bytes.size() + FUnitBytes.size() > static_cast<std::size_t>(kPictureSearchBound);
    if (!FOpen.Overflow) {
        FOpen.Bytes.insert(FOpen.Bytes.end(), FUnitBytes.begin(), FUnitBytes.end());
    }
    if (type == kSeqParameterSetType || type == kPicParameterSetType) {
        Learn(FUnitBytes.data(), FUnitBytes.size());
    }
    if (!FOpen.StartsHere && (type == kIdrSliceType || type == kSeiType) &&
        IsStartUnit(header, FUnit.Head.data(), FUnit.Head.size())) {
        FOpen.StartsHere = true;
        FOpen.StartOffset = FUnit.Offset;
        FOpen.StartIsIdr = type == kIdrSliceType;
    }
    if (sliceRead) {
        if (!FOpen.HasPicture) {
            if (FOpen.StartsHere) {
                FOrder = TPictureOrder{};
            }
            FOpen.HasPicture = true;
            FOpen.FirstHead = head;
            FOpen.Poc = FOrder.Next(head, *sps);
        }
        FOpen.LastHead = head;
        const std::string name = SliceTypeName(head.slice_type);
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

// A start met after the walk has sent the selected picture is not decoded on: the pictures
// held back come out instead, and a later selection there begins afresh.
TAccessUnitDecoder::TStep TAccessUnitDecoder::CloseGroup(std::int64_t end, bool feedAhead) {
    TUnitGroup group = std::move(FOpen);
    FOpen = TUnitGroup{};
    FOpenUsed = false;
    group.End = end;
    if (feedAhead && group.StartsHere) {
        return DrainAll();
    }
    const TStep step = Send(group);
    group.Bytes = {};
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
    if (group.StartsHere) {
        if (FPictureCount > 0) {
            RestartAt(group);
        }
        FStartOffset = group.StartOffset;
        FStartIsIdr = group.StartIsIdr;
    }
    group.Index = ++FPictureCount;
    group.StartOffset = FStartOffset;
    group.StartIsIdr = FStartIsIdr;
    FPrelude.insert(FPrelude.end(), FPreludePps.begin(), FPreludePps.end());
    group.Bytes.insert(group.Bytes.begin(), FPrelude.begin(), FPrelude.end());
    FPrelude.clear();
    FPreludePps.clear();
    std::string error;
    // Counts restart at each IDR picture; output never crosses one, so each run between
    // them gets its own range of numbers.
    if (group.FirstHead.nal_unit_type == kIdrSliceType) {
        ++FOutputEpoch;
    }
    TAccessUnitIn unit;
    unit.Data = group.Bytes.data();
    unit.Size = group.Bytes.size();
    unit.Tag = group.First;
    unit.OutputOrder = FOutputEpoch * (std::int64_t{1} << 33) + group.Poc;
    if (!FDecoder.Send(unit, error)) {
        FFailure = DecoderErrorMessage(error);
        return TStep::Failed;
    }
    ++FUnitsSent;
    if (FProgress) {
        FProgress(FStartOffset, FStartIsIdr, FPictureCount);
    }
    return TStep::Continue;
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
        return group->End <= FRequested ? nullptr : &FPictures[first];
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

// A start within the walk: decoding begins there again, as it would for a selection there.
void TAccessUnitDecoder::RestartAt(TUnitGroup& group) {
    FDecoder.Reset();
    FDone.clear();
    FPictures.clear();
    FPictureCount = 0;
    FWalkStart = group.First;
    // The fresh decoder has seen no parameter set yet.
    FPrelude.clear();
    FPreludePps.clear();
    for (const auto* sets : {&FSpsById, &FPpsById}) {
        for (const auto& [id, set] : *sets) {
            FPrelude.insert(FPrelude.end(), set.Bytes.begin(), set.Bytes.end());
        }
    }
}

TAccessUnitDecoder::TSet* TAccessUnitDecoder::Learn(const std::uint8_t* unit, std::size_t size) {
    const int startCode = StartCodeLength(unit, static_cast<std::int64_t>(size));
    if (startCode == 0 || size <= static_cast<std::size_t>(startCode) + 1) {
        return nullptr;
    }
    const std::uint8_t header = unit[startCode];
    std::vector<std::uint8_t> payload =
        UnitPayload(unit + startCode + 1, size - static_cast<std::size_t>(startCode) - 1);
    TBitStream4 reader;
    if (reader.SetData(payload.data(), static_cast<std::int32_t>(payload.size())) != kStatusOk) {
        return nullptr;
    }
    TSet set;
    set.Bytes.assign({0, 0, 0, 1});
    set.Bytes.insert(set.Bytes.end(), unit + startCode, unit + size);
    std::uint32_t id = 0;
    if (NalUnitType(header) == kSeqParameterSetType) {
        set.Sps = std::make_unique<TSeqParameterSet>();
        Parse_seq_parameter_set_rbsp(reader, *set.Sps);
        id = set.Sps->seq_parameter_set_id;
        return &(FSpsById[id] = std::move(set));
    }
    set.Pps = std::make_unique<TPicParameterSet>();
    Parse_pic_parameter_set_rbsp(reader, *set.Pps);
    id = set.Pps->pic_parameter_set_id;
    return &(FPpsById[id] = std::move(set));
}

TAccessUnitDecoder::TSet* TAccessUnitDecoder::FindBefore(std::uint32_t type, std::uint32_t id) {
    const std::optional<std::int64_t> found = FFinder->Find(type, id, FWalkStart);
    if (!found) {
        FFailure = std::string(type == kSeqParameterSetType ? "seq_parameter_set_id"
                                                            : "pic_parameter_set_id") +
                   " " + std::to_string(id) + " not found within " +
                   std::to_string(kParameterSetSearchBound / 1048576) + " MiB before " +
                   NalOffsetText(FWalkStart) + ", where decoding begins";
        return nullptr;
    }
    const std::vector<std::uint8_t> unit = ReadUnitAt(FStream, FFileSize, *found, kSetBytes);
    TSet* set = Learn(unit.data(), unit.size());
    if (set) {
        std::vector<std::uint8_t>& prelude = set->Sps ? FPrelude : FPreludePps;
        prelude.insert(prelude.end(), set->Bytes.begin(), set->Bytes.end());
    }
    return set;
}

const TSeqParameterSet* TAccessUnitDecoder::SpsFor(std::uint32_t id) {
    const auto known = FSpsById.find(id);
    if (known != FSpsById.end()) {
        return known->second.Sps.get();
    }
    TSet* set = FindBefore(kSeqParameterSetType, id);
    return set ? set->Sps.get() : nullptr;
}

const TPicParameterSet* TAccessUnitDecoder::PpsFor(std::uint32_t id, const TSeqParameterSet*& sps) {
    const TPicParameterSet* pps = nullptr;
    const auto known = FPpsById.find(id);
    if (known != FPpsById.end()) {
        pps = known->second.Pps.get();
    } else if (TSet* set = FindBefore(kPicParameterSetType, id)) {
        pps = set->Pps.get();
    }
    if (pps == nullptr) {
        return nullptr;
    }
    sps = SpsFor(pps->seq_parameter_set_id);
    return sps ? pps : nullptr;
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

bool TAccessUnitDecoder::Answer(std::int64_t offset, TPictureAnswer& answer) {
    const TUnitGroup* group = GroupHolding(offset);
    if (!group || !group->HasPicture) {
        return false;
    }
    const auto picture = FPictures.find(group->First);
    if (picture == FPictures.end()) {
        return false;
    }
    answer.Outcome = TPictureOutcome::Done;
    answer.Message.clear();
    answer.Decoded.Picture = picture->second;
    TPictureFacts& facts = answer.Decoded.Facts;
    facts.AccessUnitOffset = group->First;
    facts.SliceTypes = group->SliceTypes;
    facts.FrameNum = group->FirstHead.frame_num;
    facts.Poc = group->Poc;
    facts.StartOffset = group->StartOffset;
    facts.StartIsIdr = group->StartIsIdr;
    facts.Pictures = group->Index;
    return true;
}
