#pragma once

// The rules that split a stream into access units and number their pictures, as pure
// functions over a unit's payload: what the walk from an IDR picture or a recovery point to
// the selected picture needs of each slice header, without building any tree.

#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <optional>
#include <string>

inline constexpr std::uint32_t kNonIdrSliceType = 1;
inline constexpr std::uint32_t kPartitionAType = 2;
inline constexpr std::uint32_t kIdrSliceType = 5;
inline constexpr std::uint32_t kSeiType = 6;
inline constexpr std::uint32_t kFillerType = 12;

// The elements of a slice header up to redundant_pic_cnt: what tells the first slice of a
// new picture and what its picture order count comes from.
struct TSliceHead {
    std::uint32_t nal_unit_type = 0;
    std::uint32_t nal_ref_idc = 0;
    std::uint32_t first_mb_in_slice = 0;
    std::uint32_t slice_type = 0;
    std::uint32_t pic_parameter_set_id = 0;
    std::uint32_t frame_num = 0;
    std::uint32_t field_pic_flag = 0;
    std::uint32_t bottom_field_flag = 0;
    std::uint32_t idr_pic_id = 0;
    std::uint32_t pic_order_cnt_lsb = 0;
    std::int32_t delta_pic_order_cnt_bottom = 0;
    std::int32_t delta_pic_order_cnt[2] = {0, 0};
    std::uint32_t redundant_pic_cnt = 0;
};

// What a slice unit is, before its header is read with its parameter sets.
enum class TUnitRole {
    Slice,         // nal_unit_type 1, 2 or 5: a slice with a header
    SlicePart,     // nal_unit_type 3 or 4: the rest of a partitioned slice
    BeforePicture, // 6 to 9, 13 to 18: opens the next access unit when a picture came before
    AfterPicture,  // every other type: belongs to the access unit it follows
};
TUnitRole RoleOf(std::uint32_t nal_unit_type);

// The first unsigned Exp-Golomb codes of a slice payload (after the header byte):
// first_mb_in_slice and the pic_parameter_set_id behind slice_type. False when the
// payload holds fewer bits.
bool ReadSliceIds(const std::uint8_t* rbsp, std::int32_t size, std::uint32_t& first_mb_in_slice,
                  std::uint32_t& pic_parameter_set_id);

// Reads the slice header elements of TSliceHead from a slice payload (emulation prevention
// removed, after the header byte). False when the payload ends before redundant_pic_cnt's
// turn.
bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   const TSeqParameterSet& sps, const TPicParameterSet& pps, TSliceHead& head);

// True when a slice with head `next` begins a new primary coded picture after the slice
// `previous` of the same stream: the comparison of the first VCL unit of a picture.
bool BeginsNewPicture(const TSliceHead& previous, const TSliceHead& next,
                      const TSeqParameterSet& sps);

// True when the SEI payload (emulation prevention removed, after the header byte) holds a
// recovery point message.
bool HoldsRecoveryPoint(const std::uint8_t* rbsp, std::int32_t size);

// The picture order count of each picture in decoding order, carried from one picture to
// the next as the three counting methods need it. Starts as after an IDR picture.
class TPictureOrder {
  public:
    // The count of the picture whose first slice is head (the smaller of its fields' counts
    // for a frame).
    std::int32_t Next(const TSliceHead& head, const TSeqParameterSet& sps);

  private:
    std::int64_t FPrevMsb = 0;
    std::int64_t FPrevLsb = 0;
    std::int64_t FPrevFrameNumOffset = 0;
    std::uint32_t FPrevFrameNum = 0;
};

// "I", "P", "B", "SP" or "SI" for slice_type.
const char* SliceTypeName(std::uint32_t slice_type);
