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
    // The active list sizes, the picture parameter set's unless the slice overrides them.
    std::uint32_t num_ref_idx_l0_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_active_minus1 = 0;
    // dec_ref_pic_marking( )'s flags.
    std::uint32_t no_output_of_prior_pics_flag = 0;
    std::uint32_t long_term_reference_flag = 0;
    std::uint32_t adaptive_ref_pic_marking_mode_flag = 0;
    // How many of the entries below the slice holds: only those are read. (They come last:
    // a reading clears what comes before them, not the few hundred words after.)
    std::uint32_t modification_count[2] = {0, 0};
    std::uint32_t marking_count = 0;
    // ref_pic_list_modification( ) of each list, without its end code: the idc and its
    // abs_diff_pic_num_minus1 or long_term_pic_num.
    struct TModification {
        std::uint32_t idc = 0;
        std::uint32_t value = 0;
    };
    std::array<std::array<TModification, 32>, 2> modifications{};
    // Each marking operation without the end code: its number and the values it carries
    // (difference_of_pic_nums_minus1 or long_term_pic_num or max_long_term_frame_idx_plus1
    // first, long_term_frame_idx second).
    struct TMarking {
        std::uint32_t operation = 0;
        std::uint32_t value = 0;
        std::uint32_t long_term_frame_idx = 0;
    };
    std::array<TMarking, 66> markings{};
};

// Reads a slice header (payload after the header byte, emulation prevention removed) with
// the reader that builds the detail tree, so both read the same elements. sets answers
// the picture and sequence parameter sets; sps receives the one that governs the slice.
// False when a set is missing or the payload ends before slice_qp_delta (head then holds
// what was read).
bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   IGoverningSets& sets, TSliceHead& head, const TSeqParameterSet*& sps);

// The two elements a slice header begins with, which need no parameter set: what tells a
// picture's start and kind when the sets are not at hand. None when the payload ends first.
struct TSliceOpening {
    std::uint32_t first_mb_in_slice = 0;
    std::uint32_t slice_type = 0;
};
std::optional<TSliceOpening> ReadSliceOpening(const std::uint8_t* rbsp, std::int32_t size);

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
