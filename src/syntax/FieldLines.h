#pragma once

#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

// The slice header elements whose values a reading without lines keeps (IFieldValues):
// the readers tell them by this id, not by comparing names. Four bytes wide, so that a name
// passed by value is stored and loaded in whole words, which a 32-bit build would
// otherwise stall on.
enum class TElementId : std::uint32_t {
    None,
    first_mb_in_slice,
    slice_type,
    pic_parameter_set_id,
    frame_num,
    field_pic_flag,
    bottom_field_flag,
    idr_pic_id,
    pic_order_cnt_lsb,
    delta_pic_order_cnt_bottom,
    delta_pic_order_cnt_0,
    delta_pic_order_cnt_1,
    redundant_pic_cnt,
    slice_qp_delta,
    memory_management_control_operation,
    // What the picture model needs of the reference lists and the marking.
    num_ref_idx_l0_active_minus1,
    num_ref_idx_l1_active_minus1,
    ref_pic_list_modification_flag_l1,
    modification_of_pic_nums_idc,
    abs_diff_pic_num_minus1,
    long_term_pic_num,
    no_output_of_prior_pics_flag,
    long_term_reference_flag,
    adaptive_ref_pic_marking_mode_flag,
    difference_of_pic_nums_minus1,
    long_term_frame_idx,
    max_long_term_frame_idx_plus1,
};

// An element's label as a reader names it, with its id when a reading without lines keeps
// its value.
struct TElementName {
    constexpr TElementName(const char* label, TElementId id = TElementId::None)
        : Label(label), Id(id) {}
    constexpr TElementName(std::string_view label) : Label(label) {}
    TElementName(const std::string& label) : Label(label) {}
    std::string_view Label;
    TElementId Id = TElementId::None;
};

// Told the value of each element with an id as it is read, in place of the lines: what a
// summary of the unit needs, without building a tree.
class IFieldValues {
  public:
    virtual ~IFieldValues() = default;
    virtual void Value(TElementId id, std::int64_t value) = 0;
};

// A tree that keeps nothing: for a reading with IFieldValues, which makes no line.
class TNoLines final : public ITreeLines {
  public:
    void ClearLines() override {}
    TTreeLine AddRootLine(const std::string&) override { return nullptr; }
    TTreeLine AddChildLine(TTreeLine, const std::string&) override { return nullptr; }
    void ExpandLine(TTreeLine) override {}
};

// What the lines of one NAL unit's deeper structures share: the tree, and the sink for
// bit positions (may be null), told positions from the header byte's first bit in the
// unit without emulation-prevention bytes. With Values, no line is made: every element
// read in full goes to Values instead, and Tree is never touched.
struct TFieldContext {
    ITreeLines& Tree;
    ILineBits* Bits = nullptr;
    IFieldValues* Values = nullptr;
    IElementLines* Elements = nullptr; // Tree's element side, if it has one
};

// Reads elements and shows them at once, one line each, for the slice header and SEI
// structures. Reading and showing in one pass means the two can never disagree about
// which elements exist. A read that does not fit in the payload shows nothing, and
// nothing is shown after it: the tree stops at the last element read in full.
//
// A structure line is added only when its first line is, so that a structure whose first
// element was cut off leaves no empty line behind.
class TFieldLines {
  public:
    // Lines under parent; base is the RBSP bit position of the reader's first bit.
    TFieldLines(TFieldContext& context, TBitStream4& reader, TTreeLine parent, std::int64_t base);

    std::uint32_t U(TElementName name, int bits);
    std::uint32_t Flag(TElementName name) { return U(name, 1); }
    std::uint32_t Ue(TElementName name);
    std::int32_t Se(TElementName name);
    // i(n): n bits, two's complement.
    std::int32_t I(TElementName name, int bits);
    // A line for a value read by the caller from the bits that end at the reader's current
    // position: value as text, bits wide. Nothing once a read has failed.
    void Shown(std::string_view label, std::string_view value, std::int64_t bits);
    // A line without a value (a note), shown only while every read so far succeeded.
    void Note(const std::string& text);

    // The lines of a sub-structure: its line "text" (which must outlive them) appears with
    // its first line.
    TFieldLines Structure(std::string_view text) { return Structure(text, FReader, FBase); }
    // The same for a sub-structure read from its own bytes, base their first bit's position.
    TFieldLines Structure(std::string_view text, TBitStream4& reader, std::int64_t base);

    bool Failed() const { return FReader.Error() != 0; }
    // False for a reading without lines, which labels built for them would only slow.
    bool Shows() const { return FContext.Values == nullptr; }
    TBitStream4& Reader() { return FReader; }

  private:
    // The line the lines go under: the structure's, added with its first line.
    TTreeLine Line() { return FLine != nullptr || FOuter == nullptr ? FLine : StructureLine(); }
    TTreeLine StructureLine();
    // The value of an element read in full: to Values, or as its line.
    void Read(const TElementName& name, std::int64_t value, int annotationBits, std::int64_t bits);
    void Add(std::string_view label, std::string_view value, int annotationBits, std::int64_t bits);
    // The same once the reads succeeded, when lines are shown.
    void AddShown(std::string_view label, std::string_view value, int annotationBits,
                  std::int64_t bits);

    TFieldContext& FContext;
    TBitStream4& FReader;
    TFieldLines* FOuter = nullptr; // for a structure not shown yet
    std::string_view FText;
    TTreeLine FLine = nullptr;
    std::int64_t FBase = 0;
};
