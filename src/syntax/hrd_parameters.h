#pragma once

#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"

#include <cstdint>

// hrd_parameters( ), one field per syntax element in stream order.
struct THrdParameters {
    static constexpr std::int32_t kCpbCapacity = 32;

    std::uint32_t cpb_cnt_minus1;
    std::uint32_t bit_rate_scale;
    std::uint32_t cpb_size_scale;
    std::uint32_t bit_rate_value_minus1[kCpbCapacity];
    std::uint32_t cpb_size_value_minus1[kCpbCapacity];
    std::uint32_t cbr_flag[kCpbCapacity];
    std::uint32_t initial_cpb_removal_delay_length_minus1;
    std::uint32_t cpb_removal_delay_length_minus1;
    std::uint32_t dpb_output_delay_length_minus1;
    std::uint32_t time_offset_length;
};

// Which entries exist, for the parse and the tree alike. The stream carries
// cpb_cnt_minus1 + 1 entries of each array, none for a cpb_cnt_minus1 of 2^31 or more;
// the record holds the first kCpbCapacity of them.
std::int64_t HrdCpbEntriesInStream(const THrdParameters& hrd);
std::int32_t HrdCpbEntriesHeld(const THrdParameters& hrd);

// Reads hrd_parameters( ) into hrd (which the caller has zeroed). Entries beyond the
// record's capacity are read and dropped so that the elements after them stay right.
// False when an error ended the parse.
bool Parse_hrd_parameters(TBitStream4& reader, THrdParameters& hrd);

// The "hrd_parameters( )" line under parent and its element lines. Errors pass to the
// caller (the sequence parameter set tree reports them).
void Update_TreeView_hrd_parameters(ITreeLines& tree, TTreeLine parent, const THrdParameters& hrd);
