#include "syntax/UnitInfo.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/FieldLines.h"
#include "syntax/Meanings.h"
#include "syntax/sei_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"
#include "syntax/slice_header.h"

#include <algorithm>
#include <optional>

namespace {

// The slice header elements the summary shows, as the decoder reads them.
class TSliceValues final : public IFieldValues {
  public:
    void Value(TElementId id, std::int64_t value) override {
        if (id == TElementId::slice_type) {
            SliceType = value;
        } else if (id == TElementId::frame_num) {
            FrameNum = value;
        } else if (id == TElementId::pic_order_cnt_lsb) {
            PocLsb = value;
        } else if (id == TElementId::slice_qp_delta) {
            QpDelta = value;
        }
    }
    std::optional<std::int64_t> SliceType;
    std::optional<std::int64_t> FrameNum;
    std::optional<std::int64_t> PocLsb;
    std::optional<std::int64_t> QpDelta;
};

// Passes the lookups on and keeps what the summary needs from them: which set was missing,
// and pic_init_qp_minus26 of the picture parameter set.
class TNotingSets final : public IGoverningSets {
  public:
    explicit TNotingSets(IGoverningSets* sets) : FSets(sets) {}
    const TPicParameterSet* Pps(std::uint32_t id) override {
        const TPicParameterSet* pps = FSets != nullptr ? FSets->Pps(id) : nullptr;
        if (pps == nullptr) {
            Missing = "(PPS " + std::to_string(id) + Why("pic_parameter_set_id", id) + ")";
        } else {
            QpInit = 26 + std::int64_t{pps->pic_init_qp_minus26}; // any value a stream holds
        }
        return pps;
    }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        const TSeqParameterSet* sps = FSets != nullptr ? FSets->Sps(id) : nullptr;
        if (sps == nullptr) {
            Missing = "(SPS " + (id ? std::to_string(*id) : std::string("?")) +
                      (id ? Why("seq_parameter_set_id", *id) : std::string(" not found")) + ")";
        }
        return sps;
    }
    std::string Missing;
    std::int64_t QpInit = 26;

  private:
    std::string Why(const char* idName, std::uint32_t id) {
        return FSets != nullptr && FSets->RefusedAt(idName, id) ? " unreadable" : " not found";
    }

    IGoverningSets* FSets;
};

void Append(std::string& text, std::string_view part) {
    if (!text.empty()) {
        text += "  ";
    }
    text += part;
}

} // namespace

TUnitInfo::TUnitInfo()
    : FBytes(std::make_unique<std::uint8_t[]>(kInfoSeiReadSize)),
      FRbsp(std::make_unique<std::uint8_t[]>(kInfoSeiReadSize)) {
    FText.reserve(256);
}

void TUnitInfo::EndsEarly() {
    if (FCut) {
        FWantsMore = true;
        Append(FText, "...");
    } else {
        Append(FText, kEndsEarlyNote);
    }
}

const std::string& TUnitInfo::Describe(const std::uint8_t* data, std::int32_t n, bool cut,
                                       IGoverningSets* sets) {
    FText.clear();
    FCut = cut;
    FWantsMore = false;
    n = std::min(n, kInfoSeiReadSize);
    std::int32_t length = 0;
    if (data == nullptr || n <= 0 || !GetNalUnitLength(data, n, length)) {
        return FText;
    }
    const int startCode = StartCodeLength(data, length);
    if (length <= startCode) {
        return FText; // the start code alone
    }
    const std::uint8_t header = data[startCode];
    const std::int32_t payloadStored = length - startCode - 1;
    const std::uint32_t type = NalUnitType(header);
    // A slice's header lies in its first bytes: the rest need not lose its emulation
    // prevention unless the header goes on past them.
    constexpr std::int32_t kSliceHead = 64;
    const bool slice = type == kNalNonIdrSlice || type == kNalIdrSlice;
    const std::int32_t first = slice ? std::min(payloadStored, kSliceHead) : payloadStored;
    std::int32_t written = 0;
    if (first > 0) {
        Remove_emulation_prevention_three_bytes(data + startCode + 1, first, FRbsp.get(), written);
    }
    const std::uint8_t* payload = FRbsp.get();
    switch (type) {
    case kNalNonIdrSlice:
    case kNalIdrSlice:
        Slice(header, payload, written, sets);
        if (FReader.Error() != 0 && first < payloadStored) {
            FText.clear();
            FWantsMore = false;
            Remove_emulation_prevention_three_bytes(data + startCode + 1, payloadStored,
                                                    FRbsp.get(), written);
            Slice(header, payload, written, sets);
        }
        break;
    case kNalSps:
        SequenceParameterSet(payload, written);
        break;
    case kNalPps:
        PictureParameterSet(payload, written);
        break;
    case kNalSei:
        Sei(payload, written);
        break;
    case kNalDelimiter:
        AccessUnitDelimiter(payload, written);
        break;
    default:
        break;
    }
    return FText;
}

const std::string& TUnitInfo::Read(FileStream& stream, std::int64_t offset, std::int64_t length,
                                   std::int64_t fileSize, IGoverningSets* sets) {
    // Most units need only their first bytes; the rest are read when a summary needs them.
    for (const std::int32_t bound : {kInfoFirstReadSize, kInfoReadSize, kInfoSeiReadSize}) {
        const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(length, bound));
        const std::int32_t n = ReadWithinSize(stream, offset, FBytes.get(), count, fileSize);
        Describe(FBytes.get(), n, length > n, sets);
        if (!FWantsMore || length <= bound) {
            break;
        }
    }
    return FText;
}

void TUnitInfo::Slice(std::uint8_t header, const std::uint8_t* payload, std::int32_t size,
                      IGoverningSets* sets) {
    TSliceValues values;
    TNotingSets noting(sets);
    if (size > 0 && FReader.SetData(payload, size) == kStatusOk) {
        TNoLines none;
        TFieldContext context{none, nullptr, &values};
        TFieldLines lines(context, FReader, nullptr, 8);
        TSliceHeader slice;
        slice.nal_unit_type = NalUnitType(header);
        slice.nal_ref_idc = NalRefIdc(header);
        Decode_slice_header(lines, slice, noting);
    }
    if (!values.SliceType) {
        EndsEarly();
        return;
    }
    Append(FText, SliceTypeLetter(static_cast<std::uint32_t>(*values.SliceType)));
    if (!noting.Missing.empty()) {
        Append(FText, noting.Missing);
        return;
    }
    if (values.FrameNum) {
        Append(FText, "frame_num " + std::to_string(*values.FrameNum));
    }
    if (values.PocLsb) {
        Append(FText, "POC lsb " + std::to_string(*values.PocLsb));
    }
    if (values.QpDelta) {
        Append(FText, "QP " + std::to_string(noting.QpInit + *values.QpDelta));
    }
    if (!values.QpDelta || FReader.Error() != 0) {
        EndsEarly();
    }
}

void TUnitInfo::SequenceParameterSet(const std::uint8_t* payload, std::int32_t size) {
    TSeqParameterSet sps{};
    const bool bound = size > 0 && FReader.SetData(payload, size) == kStatusOk;
    if (bound) {
        Parse_seq_parameter_set_rbsp(FReader, sps);
    }
    // profile_idc, the constraint flags and level_idc fill the first three bytes.
    if (size >= 3) {
        const std::string_view profile = ProfileName(sps.profile_idc);
        Append(FText, !profile.empty() ? std::string(profile)
                                       : "profile_idc " + std::to_string(sps.profile_idc));
        Append(FText, LevelText(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc));
    }
    if (!bound || FReader.Error() != 0) {
        EndsEarly();
        return;
    }
    const TPictureSize picture = CroppedSize(sps);
    Append(FText, std::to_string(picture.Width) + "x" + std::to_string(picture.Height));
    if (sps.frame_mbs_only_flag == 0) {
        Append(FText, "interlaced");
    }
}

void TUnitInfo::PictureParameterSet(const std::uint8_t* payload, std::int32_t size) {
    if (size <= 0 || FReader.SetData(payload, size) != kStatusOk) {
        EndsEarly();
        return;
    }
    const std::uint32_t ppsId = FReader.ReadUE();
    if (FReader.Error() == 0) {
        Append(FText, "PPS " + std::to_string(ppsId));
        const std::uint32_t spsId = FReader.ReadUE();
        if (FReader.Error() == 0) {
            Append(FText, "SPS " + std::to_string(spsId));
            const std::uint32_t cabac = FReader.ReadBit();
            if (FReader.Error() == 0) {
                Append(FText, cabac != 0 ? "CABAC" : "CAVLC");
                return;
            }
        }
    }
    EndsEarly();
}

void TUnitInfo::Sei(const std::uint8_t* payload, std::int32_t size) {
    const TSeiWalkEnd end = WalkSeiPayloadTypes(payload, size, [this](std::uint32_t type) {
        if (!FText.empty()) {
            FText += ", ";
        }
        const char* name = SeiPayloadTypeName(type);
        FText += name != nullptr ? name : "payloadType " + std::to_string(type);
        return true;
    });
    // An SEI unit holds one message at least.
    if (end == TSeiWalkEnd::EndsEarly || FText.empty()) {
        EndsEarly();
    }
}

void TUnitInfo::AccessUnitDelimiter(const std::uint8_t* payload, std::int32_t size) {
    if (size <= 0) {
        EndsEarly();
        return;
    }
    const std::uint32_t type = payload[0] >> 5;
    FText = "primary_pic_type " + std::to_string(type) + " (" +
            std::string(PrimaryPicTypeSlices(type)) + ")";
}
