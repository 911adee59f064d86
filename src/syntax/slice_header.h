#pragma once

#include "syntax/FieldLines.h"
#include "syntax/GoverningSets.h"

#include <cstdint>

// What the slice header's sub-structures need from the NAL header and the elements read
// before them.
struct TSliceHeader {
    std::uint32_t nal_unit_type = 0;
    std::uint32_t nal_ref_idc = 0;
    std::uint32_t slice_type = 0;
    std::uint32_t field_pic_flag = 0;
    std::uint32_t num_ref_idx_l0_active_minus1 = 0;
    std::uint32_t num_ref_idx_l1_active_minus1 = 0;
};

// Which slice type slice_type stands for (it repeats with an offset of 5).
struct SliceKind {
    static bool P(const TSliceHeader& s) { return s.slice_type % 5 == 0; }
    static bool B(const TSliceHeader& s) { return s.slice_type % 5 == 1; }
    static bool I(const TSliceHeader& s) { return s.slice_type % 5 == 2; }
    static bool SP(const TSliceHeader& s) { return s.slice_type % 5 == 3; }
    static bool SI(const TSliceHeader& s) { return s.slice_type % 5 == 4; }
};

// Loops whose length the stream sets by a terminating code, bounded as a conforming
// stream bounds them (a list of at most 32 references, plus the end code; 66 operations).
inline constexpr int kMaxModifications = 33;
inline constexpr int kMaxMarkingOperations = 66;

// Reads slice_header( ) from the reader (bound to the payload after the header byte) and
// shows it under lines, with its sub-structures. The governing picture and sequence
// parameter sets come from sets; when one is missing, a line says so and the header stops
// before the first element that depends on it.
void Decode_slice_header(TFieldLines& lines, TSliceHeader& header, IGoverningSets& sets);

// These two are false when a list has no end within its bound (a line says so).
bool Decode_ref_pic_list_modification(TFieldLines& lines, const TSliceHeader& header);
void Decode_pred_weight_table(TFieldLines& lines, const TSliceHeader& header,
                              std::uint32_t ChromaArrayType);
bool Decode_dec_ref_pic_marking(TFieldLines& lines, const TSliceHeader& header);
