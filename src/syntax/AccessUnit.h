#pragma once

// What a picture is: where access units begin, what a slice header says, and how pictures
// are counted. The decoder, the summary, find and the Info column all go through these, so
// that no two views can disagree about where a picture starts.

#include "stream/UnitCursor.h"
#include "syntax/GoverningSets.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <array>
#include <cstdint>
#include <memory>
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

// The parameter sets met so far, by id, with the sets found elsewhere (before the walk's
// start, say) behind them. Fixed memory: one set per id.
class TKnownSets final : public IGoverningSets {
  public:
    explicit TKnownSets(IGoverningSets* fallback = nullptr);
    ~TKnownSets() override;
    // Forgets every set learned.
    void Clear();
    // Parses a parameter set (payload after the header byte, emulation prevention removed)
    // and keeps it under its id; false when it cannot be read.
    bool LearnSps(const std::uint8_t* rbsp, std::int32_t size);
    bool LearnPps(const std::uint8_t* rbsp, std::int32_t size);
    const TPicParameterSet* Pps(std::uint32_t pic_parameter_set_id) override;
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> seq_parameter_set_id) override;

  private:
    IGoverningSets* FFallback;
    std::array<std::unique_ptr<TSeqParameterSet>, 32> FSps;
    std::array<std::unique_ptr<TPicParameterSet>, 256> FPps;
    std::optional<std::uint32_t> FLastSps;
};

// Splits a stream into access units, told its units one by one in file order. A new one
// begins with the first delimiter, SPS, PPS, SEI or unit of types 14 to 18 after a
// picture's slices, or with the first slice of a new primary picture; filler data, end of
// sequence or stream and every other type stay with the access unit they follow.
class TAccessUnitRule {
  public:
    explicit TAccessUnitRule(IGoverningSets* fallback = nullptr);

    // As at the start of a stream: the next unit begins an access unit.
    void Reset();
    // Told a unit: its header byte, and its payload after that byte with emulation
    // prevention removed (a slice's first kSliceHeaderBytes, a parameter set whole).
    // True when the unit begins a new access unit.
    bool Next(std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size);

    // The last unit told is a prefix unit after a picture's slice: it begins an access unit
    // unless the next unit is a slice of that same picture, which the next call tells. Its
    // caller holds it apart until then.
    bool HeldBack() const { return FHeld; }
    // The access unit the last unit told begins began with the unit held back before it.
    bool BeganBefore() const { return FBeganBefore; }
    // The last unit told was the first slice of a new primary picture.
    bool PictureBegan() const { return FPictureBegan; }
    // The last unit told was a slice whose header could be read: Head and Sps tell it.
    bool HeadRead() const { return FHeadRead; }
    const TSliceHead& Head() const { return FHead; }
    const TSeqParameterSet* Sps() const { return FHeadSps; }
    // The access unit in hand holds a primary picture's slice.
    bool HasPicture() const { return FSeenSlice; }
    TKnownSets& Sets() { return FSets; }

  private:
    // Next without the prefix unit's hold.
    bool Told(std::uint32_t type, std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size);

    TKnownSets FSets;
    bool FFirst = true;
    bool FSeenSlice = false;
    bool FHeld = false;
    bool FBeganBefore = false;
    bool FPictureBegan = false;
    bool FHeadRead = false;
    TSliceHead FHead;
    TSliceHead FLast; // the last slice of the picture in hand, when FLastRead
    bool FLastRead = false;
    const TSeqParameterSet* FHeadSps = nullptr;
};
