#pragma once

// What a picture is: where access units begin, what a slice header says, and how pictures
// are counted. The decoder, the summary, find and the Info column all go through these, so
// that no two views can disagree about where a picture starts.

#include "stream/UnitCursor.h"
#include "syntax/GoverningSets.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <optional>

// Bytes of a slice's payload that hold any slice header a conforming stream can write
// (32 weights and 66 marking operations included), emulation prevention among them.
inline constexpr std::int32_t kSliceHeaderBytes = 1536;
// Bytes of a parameter set a walk keeps for the rule: the whole of any real one.
inline constexpr std::int32_t kParameterSetBytes = 65536;

// What a walk keeps of a unit for the rule: a slice's header, a parameter set.
TUnitWants AccessUnitHeads(std::uint8_t header);

// The slice header's elements that tell pictures apart and count them.
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
    std::int32_t slice_qp_delta = 0;
    // dec_ref_pic_marking( ) holds memory_management_control_operation 5.
    bool mmco5 = false;
};

// Reads a slice header (payload after the header byte, emulation prevention removed) with
// the reader that builds the detail tree, so both read the same elements. sets answers
// the picture and sequence parameter sets; sps receives the one that governs the slice.
// False when a set is missing or the payload ends before slice_qp_delta.
bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   IGoverningSets& sets, TSliceHead& head, const TSeqParameterSet*& sps);

// first_mb_in_slice alone, for a slice whose parameter sets are not at hand.
std::optional<std::uint32_t> ReadFirstMbInSlice(const std::uint8_t* rbsp, std::int32_t size);

// True when the slice `next` begins a new primary coded picture after the slice
// `previous`: the standard's comparison of the first VCL unit of a picture.
bool BeginsNewPicture(const TSliceHead& previous, const TSliceHead& next,
                      const TSeqParameterSet& sps);

// The recovery_frame_cnt of the recovery point message in an SEI payload (emulation
// prevention removed, after the header byte); none when it holds none.
std::optional<std::uint32_t> RecoveryFrameCount(const std::uint8_t* rbsp, std::int32_t size);

// "I", "P", "B", "SP" or "SI" for slice_type.
const char* SliceTypeName(std::uint32_t slice_type);

// The one rule for which parameter sets count, wherever they are read: parsed to their end
// without an error, with an id in range; a PPS with the chroma format of the SPS that sets
// gives for its id. The payload follows the header byte, emulation prevention removed.
bool ReadSps(const std::uint8_t* rbsp, std::int32_t size, TSeqParameterSet& sps);
bool ReadPps(const std::uint8_t* rbsp, std::int32_t size, IGoverningSets& sets,
             TPicParameterSet& pps);

// The picture order count of each picture in decoding order, carried from one picture to
// the next as the three counting methods need it, memory_management_control_operation 5
// included. Starts as after an IDR picture.
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
    bool FPrevMmco5 = false;
    bool FPrevMmco5Bottom = false;
    std::int64_t FPrevMmco5Top = 0;
};
