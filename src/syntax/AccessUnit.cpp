#include "syntax/AccessUnit.h"

#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/FieldLines.h"
#include "syntax/slice_header.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace {

constexpr std::uint32_t kRecoveryPointPayload = 6;

bool IsIdr(const TSliceHead& head) {
    return head.nal_unit_type == kNalIdrSlice;
}

// Passes the lookups on and keeps the sequence set the slice was read with.
class TNotingSets final : public IGoverningSets {
  public:
    explicit TNotingSets(IGoverningSets& sets) : FSets(sets) {}
    const TPicParameterSet* Pps(std::uint32_t id) override {
        const TPicParameterSet* pps = FSets.Pps(id);
        if (pps != nullptr) {
            // The active list sizes unless the slice overrides them; kept now, since the
            // next question may replace the set.
            L0 = pps->num_ref_idx_l0_active_minus1;
            L1 = pps->num_ref_idx_l1_active_minus1;
        }
        return pps;
    }
    std::uint32_t L0 = 0;
    std::uint32_t L1 = 0;
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        Found = FSets.Sps(id);
        return Found;
    }
    const TSeqParameterSet* Found = nullptr;

  private:
    IGoverningSets& FSets;
};

// Keeps the elements of TSliceHead as the tree's reader reads them.
class THeadValues final : public IFieldValues {
  public:
    THeadValues(TSliceHead& head, const TNotingSets& sets) : FHead(head), FSets(sets) {}
    void Value(TElementId id, std::int64_t value) override {
        if (id == TElementId::frame_num) {
            // Read after the picture parameter set was looked up: its list sizes stand
            // unless the slice overrides them.
            FHead.num_ref_idx_l0_active_minus1 = FSets.L0;
            FHead.num_ref_idx_l1_active_minus1 = FSets.L1;
        }
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
            if (value != 0 && FHead.marking_count < FHead.markings.size()) {
                FHead.markings[FHead.marking_count++].operation = u;
            }
            break;
        case TElementId::num_ref_idx_l0_active_minus1:
            FHead.num_ref_idx_l0_active_minus1 = u;
            break;
        case TElementId::num_ref_idx_l1_active_minus1:
            FHead.num_ref_idx_l1_active_minus1 = u;
            break;
        case TElementId::ref_pic_list_modification_flag_l1:
            FList = 1;
            break;
        case TElementId::modification_of_pic_nums_idc: {
            std::uint32_t& count = FHead.modification_count[FList];
            if (value != 3 && count < FHead.modifications[FList].size()) {
                FHead.modifications[FList][count++].idc = u;
            }
            break;
        }
        case TElementId::abs_diff_pic_num_minus1:
        case TElementId::long_term_pic_num:
            // long_term_pic_num also follows operation 2, after the lists.
            if (FHead.marking_count > 0) {
                FHead.markings[FHead.marking_count - 1].value = u;
            } else if (FHead.modification_count[FList] > 0) {
                FHead.modifications[FList][FHead.modification_count[FList] - 1].value = u;
            }
            break;
        case TElementId::difference_of_pic_nums_minus1:
        case TElementId::max_long_term_frame_idx_plus1:
            if (FHead.marking_count > 0) {
                FHead.markings[FHead.marking_count - 1].value = u;
            }
            break;
        case TElementId::long_term_frame_idx:
            if (FHead.marking_count > 0) {
                FHead.markings[FHead.marking_count - 1].long_term_frame_idx = u;
            }
            break;
        case TElementId::no_output_of_prior_pics_flag:
            FHead.no_output_of_prior_pics_flag = u;
            break;
        case TElementId::long_term_reference_flag:
            FHead.long_term_reference_flag = u;
            break;
        case TElementId::adaptive_ref_pic_marking_mode_flag:
            FHead.adaptive_ref_pic_marking_mode_flag = u;
            break;
        case TElementId::None:
            break;
        }
    }
    bool QpRead = false;

  private:
    TSliceHead& FHead;
    const TNotingSets& FSets;
    int FList = 0; // the modification list being read
};

} // namespace

bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   IGoverningSets& sets, TSliceHead& head, const TSeqParameterSet*& sps) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    // Every value before the entries that the counts guard, cleared: a slice costs no
    // copy of the whole record.
    static_assert(std::is_trivially_copyable_v<TSliceHead> && std::is_standard_layout_v<TSliceHead>);
    std::memset(static_cast<void*>(&head), 0, offsetof(TSliceHead, modifications));
    TSliceHead& h = head;
    h.nal_unit_type = NalUnitType(header);
    h.nal_ref_idc = NalRefIdc(header);
    TNotingSets noting(sets);
    THeadValues values(h, noting);
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
    sps = noting.Found;
    return true;
}

std::optional<TSliceOpening> ReadSliceOpening(const std::uint8_t* rbsp, std::int32_t size) {
    TBitStream4 reader;
    if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
        return std::nullopt;
    }
    TSliceOpening opening;
    opening.first_mb_in_slice = reader.ReadUE();
    opening.slice_type = reader.ReadUE();
    return reader.Error() == 0 ? std::optional(opening) : std::nullopt;
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
