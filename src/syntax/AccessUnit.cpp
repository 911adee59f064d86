#include "syntax/AccessUnit.h"

#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/FieldLines.h"
#include "syntax/slice_header.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::uint32_t kRecoveryPointPayload = 6;

bool IsIdr(const TSliceHead& head) {
    return head.nal_unit_type == kNalIdrSlice;
}

std::int64_t MaxFrameNum(const TSeqParameterSet& sps) {
    return std::int64_t{1} << ((sps.log2_max_frame_num_minus4 + 4) & 31);
}

// Keeps the elements of TSliceHead as the tree's reader reads them.
class THeadValues final : public IFieldValues {
  public:
    explicit THeadValues(TSliceHead& head) : FHead(head) {}
    void Value(TElementId id, std::int64_t value) override {
        const auto u = static_cast<std::uint32_t>(value);
        const auto s = static_cast<std::int32_t>(value);
        switch (id) {
        case TElementId::first_mb_in_slice:
            FHead.first_mb_in_slice = u;
            break;
        case TElementId::slice_type:
            FHead.slice_type = u;
            break;
        case TElementId::pic_parameter_set_id:
            FHead.pic_parameter_set_id = u;
            break;
        case TElementId::frame_num:
            FHead.frame_num = u;
            break;
        case TElementId::field_pic_flag:
            FHead.field_pic_flag = u;
            break;
        case TElementId::bottom_field_flag:
            FHead.bottom_field_flag = u;
            break;
        case TElementId::idr_pic_id:
            FHead.idr_pic_id = u;
            break;
        case TElementId::pic_order_cnt_lsb:
            FHead.pic_order_cnt_lsb = u;
            break;
        case TElementId::delta_pic_order_cnt_bottom:
            FHead.delta_pic_order_cnt_bottom = s;
            break;
        case TElementId::delta_pic_order_cnt_0:
            FHead.delta_pic_order_cnt[0] = s;
            break;
        case TElementId::delta_pic_order_cnt_1:
            FHead.delta_pic_order_cnt[1] = s;
            break;
        case TElementId::redundant_pic_cnt:
            FHead.redundant_pic_cnt = u;
            break;
        case TElementId::slice_qp_delta:
            FHead.slice_qp_delta = s;
            QpRead = true;
            break;
        case TElementId::memory_management_control_operation:
            FHead.mmco5 = FHead.mmco5 || value == 5;
            break;
        case TElementId::None:
            break;
        }
    }
    bool QpRead = false;

  private:
    TSliceHead& FHead;
};

// Passes the lookups on and keeps the sequence set the slice was read with.
class TNotingSets final : public IGoverningSets {
  public:
    explicit TNotingSets(IGoverningSets& sets) : FSets(sets) {}
    const TPicParameterSet* Pps(std::uint32_t id) override { return FSets.Pps(id); }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        Found = FSets.Sps(id);
        return Found;
    }
    const TSeqParameterSet* Found = nullptr;

  private:
    IGoverningSets& FSets;
};

} // namespace

bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   IGoverningSets& sets, TSliceHead& head, const TSeqParameterSet*& sps) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    TSliceHead h;
    h.nal_unit_type = NalUnitType(header);
    h.nal_ref_idc = NalRefIdc(header);
    THeadValues values(h);
    TNotingSets noting(sets);
    TNoLines none;
    TFieldContext context{none, nullptr, &values};
    TFieldLines lines(context, reader, nullptr, 8);
    TSliceHeader slice;
    slice.nal_unit_type = h.nal_unit_type;
    slice.nal_ref_idc = h.nal_ref_idc;
    Decode_slice_header(lines, slice, noting);
    if (!values.QpRead || noting.Found == nullptr) {
        return false;
    }
    head = h;
    sps = noting.Found;
    return true;
}

std::optional<std::uint32_t> ReadFirstMbInSlice(const std::uint8_t* rbsp, std::int32_t size) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return std::nullopt;
    }
    const std::uint32_t first = reader.ReadUE();
    return reader.Error() == 0 ? std::optional(first) : std::nullopt;
}

bool BeginsNewPicture(const TSliceHead& previous, const TSliceHead& next,
                      const TSeqParameterSet& sps) {
    if (next.redundant_pic_cnt != 0) {
        return false; // a redundant picture travels with its primary one
    }
    const bool refDiffers = (previous.nal_ref_idc == 0) != (next.nal_ref_idc == 0);
    const bool pocDiffers =
        (sps.pic_order_cnt_type == 0 &&
         (previous.pic_order_cnt_lsb != next.pic_order_cnt_lsb ||
          previous.delta_pic_order_cnt_bottom != next.delta_pic_order_cnt_bottom)) ||
        (sps.pic_order_cnt_type == 1 &&
         (previous.delta_pic_order_cnt[0] != next.delta_pic_order_cnt[0] ||
          previous.delta_pic_order_cnt[1] != next.delta_pic_order_cnt[1]));
    return previous.frame_num != next.frame_num ||
           previous.pic_parameter_set_id != next.pic_parameter_set_id ||
           previous.field_pic_flag != next.field_pic_flag ||
           previous.bottom_field_flag != next.bottom_field_flag || refDiffers || pocDiffers ||
           IsIdr(previous) != IsIdr(next) ||
           (IsIdr(previous) && IsIdr(next) && previous.idr_pic_id != next.idr_pic_id);
}

std::optional<std::uint32_t> RecoveryFrameCount(const std::uint8_t* rbsp, std::int32_t size) {
    std::int32_t at = 0;
    // Each message: its type and size, each as a run of 0xFF bytes and a last byte, then
    // its payload. The trailing bits (0x80) end the list.
    while (at < size && !(at == size - 1 && rbsp[at] == 0x80)) {
        std::uint32_t values[2] = {0, 0};
        for (std::uint32_t& value : values) {
            while (at < size && rbsp[at] == 0xFF && value < 0x1000000) {
                value += 255;
                ++at;
            }
            if (at >= size) {
                return std::nullopt;
            }
            value += rbsp[at++];
        }
        const std::int32_t left = size - at;
        const auto body = static_cast<std::int32_t>(std::min<std::uint32_t>(values[1], left));
        if (values[0] == kRecoveryPointPayload) {
            TBitStream4 reader;
            if (body <= 0 || reader.SetData(rbsp + at, body) != kStatusOk) {
                return std::nullopt;
            }
            const std::uint32_t count = reader.ReadUE();
            return reader.Error() == 0 ? std::optional(count) : std::nullopt;
        }
        if (values[1] > static_cast<std::uint32_t>(left)) {
            return std::nullopt;
        }
        at += body;
    }
    return std::nullopt;
}

const char* SliceTypeName(std::uint32_t slice_type) {
    static const char* const kNames[] = {"P", "B", "I", "SP", "SI"};
    return kNames[slice_type % 5];
}

bool ReadSps(const std::uint8_t* rbsp, std::int32_t size, TSeqParameterSet& sps) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    Parse_seq_parameter_set_rbsp(reader, sps);
    return reader.Error() == 0 && sps.seq_parameter_set_id < 32;
}

bool ReadPps(const std::uint8_t* rbsp, std::int32_t size, IGoverningSets& sets,
             TPicParameterSet& pps) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    // The governing sequence set tells how many scaling lists follow.
    reader.ReadUE();
    const std::uint32_t spsId = reader.ReadUE();
    const TSeqParameterSet* sps = reader.Error() == 0 ? sets.Sps(spsId) : nullptr;
    const std::uint32_t chroma =
        sps != nullptr && SpsPresence::ChromaBlock(*sps) ? sps->chroma_format_idc : 1;
    reader.SetData(rbsp, size);
    Parse_pic_parameter_set_rbsp(reader, pps, chroma);
    return reader.Error() == 0 && pps.pic_parameter_set_id < 256;
}

std::int32_t TPictureOrder::Next(const TSliceHead& head, const TSeqParameterSet& sps) {
    const bool idr = IsIdr(head);
    const bool reference = head.nal_ref_idc != 0;
    const bool field = head.field_pic_flag != 0;
    const bool bottomField = field && head.bottom_field_flag != 0;
    std::int64_t top = 0;
    std::int64_t bottom = 0;
    std::uint32_t frameNum = head.frame_num;
    if (sps.pic_order_cnt_type == 0) {
        if (idr) {
            FPrevMsb = 0;
            FPrevLsb = 0;
        } else if (FPrevMmco5) {
            // After memory_management_control_operation 5 counting begins again from the
            // top field's count of that picture, as it stood after the operation.
            FPrevMsb = 0;
            FPrevLsb = FPrevMmco5Bottom ? 0 : FPrevMmco5Top;
        }
        const std::int64_t maxLsb = std::int64_t{1}
                                    << ((sps.log2_max_pic_order_cnt_lsb_minus4 + 4) & 31);
        const std::int64_t lsb = head.pic_order_cnt_lsb;
        std::int64_t msb = FPrevMsb;
        if (lsb < FPrevLsb && FPrevLsb - lsb >= maxLsb / 2) {
            msb = FPrevMsb + maxLsb;
        } else if (lsb > FPrevLsb && lsb - FPrevLsb > maxLsb / 2) {
            msb = FPrevMsb - maxLsb;
        }
        top = msb + lsb;
        bottom = field ? msb + lsb : top + head.delta_pic_order_cnt_bottom;
        if (reference) {
            FPrevMsb = msb;
            FPrevLsb = lsb;
        }
    } else {
        std::int64_t frameNumOffset = 0;
        if (!idr) {
            const std::int64_t prevOffset = FPrevMmco5 ? 0 : FPrevFrameNumOffset;
            frameNumOffset =
                FPrevFrameNum > head.frame_num ? prevOffset + MaxFrameNum(sps) : prevOffset;
        }
        if (sps.pic_order_cnt_type == 1) {
            const std::int32_t cycle = SpsPresence::OffsetForRefFrameHeld(sps);
            std::int64_t absFrameNum = cycle != 0 ? frameNumOffset + head.frame_num : 0;
            if (!reference && absFrameNum > 0) {
                --absFrameNum;
            }
            std::int64_t expected = 0;
            if (absFrameNum > 0) {
                std::int64_t perCycle = 0;
                for (std::int32_t i = 0; i < cycle; ++i) {
                    perCycle += sps.offset_for_ref_frame[i];
                }
                const std::int64_t cycles = (absFrameNum - 1) / cycle;
                const std::int64_t inCycle = (absFrameNum - 1) % cycle;
                expected = cycles * perCycle;
                for (std::int64_t i = 0; i <= inCycle; ++i) {
                    expected += sps.offset_for_ref_frame[i];
                }
            }
            if (!reference) {
                expected += sps.offset_for_non_ref_pic;
            }
            top = expected + head.delta_pic_order_cnt[0];
            bottom =
                field ? expected + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[0]
                      : top + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[1];
        } else {
            std::int64_t count = 0;
            if (!idr) {
                count = 2 * (frameNumOffset + head.frame_num) - (reference ? 0 : 1);
            }
            top = count;
            bottom = count;
        }
        FPrevFrameNumOffset = frameNumOffset;
    }
    std::int64_t order = !field ? std::min(top, bottom) : (bottomField ? bottom : top);
    FPrevMmco5 = head.mmco5;
    if (head.mmco5) {
        // The picture's own counts become relative to themselves: a frame counts 0.
        const std::int64_t base = !field ? std::min(top, bottom) : order;
        FPrevMmco5Top = top - base;
        FPrevMmco5Bottom = bottomField;
        order -= base;
        frameNum = 0;
    }
    FPrevFrameNum = frameNum;
    return static_cast<std::int32_t>(order);
}

TUnitWants AccessUnitHeads(std::uint8_t header) {
    switch (NalUnitType(header)) {
    case kNalNonIdrSlice:
    case kNalIdrSlice:
    case kNalPartitionA:
        return {kSliceHeaderBytes, false};
    case kNalSps:
    case kNalPps:
        return {kParameterSetBytes, false};
    default:
        return {};
    }
}
