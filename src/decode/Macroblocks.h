#pragma once

// What a decoded picture holds macroblock by macroblock: its QP, its motion vectors (none:
// intra) and the slice it belongs to. Toolkit-free and free of the decoder's headers: the
// decoder fills it, the overlays and quillet-dump read it.

#include "model/SetStore.h"
#include "syntax/AccessUnit.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
#include <map>
#include <vector>

// One motion vector of a block of a macroblock: the list it predicts from, the block's
// place and size in the macroblock, and the vector from the block to its reference block
// in quarter pixels (positive: the reference lies right of or below the block). A field
// macroblock's vertical component counts rows of its field, as the stream codes it.
struct TMotionVector {
    std::uint8_t List = 0;
    std::uint8_t X = 0;
    std::uint8_t Y = 0;
    std::uint8_t W = 16;
    std::uint8_t H = 16;
    std::int32_t Dx4 = 0;
    std::int32_t Dy4 = 0;
};

struct TMacroblock {
    std::int32_t Qp = -1;    // -1: the decoder did not say
    std::int32_t Slice = -1; // the index of its slice in the picture, in decoding order
    std::uint32_t FirstVector = 0;
    std::uint32_t VectorCount = 0;
    bool Intra() const { return VectorCount == 0; }
};

// The macroblocks of a frame in raster order. Field macroblocks (of field pictures and of
// field pairs in MBAFF) keep the frame rows the decoder gives them: a field's macroblock row
// r is frame row 2r (top field) or 2r + 1 (bottom field).
struct TMacroblockMap {
    int WidthMbs = 0;
    int HeightMbs = 0;
    std::vector<TMacroblock> Mbs;
    std::vector<TMotionVector> Vectors;
    int MinQp = 0;
    int MaxQp = 0;
    int SliceCount = 0;
    // QP, vectors and intra macroblocks are the decoder's; false from a decoder that tells
    // none (the Windows one), whose map has only the macroblocks' places and slices.
    bool CodingKnown = true;

    const TMacroblock* At(int x, int y) const {
        return x >= 0 && y >= 0 && x < WidthMbs && y < HeightMbs
                   ? &Mbs[static_cast<std::size_t>(y * WidthMbs + x)]
                   : nullptr;
    }
};

// How a slice's first_mb_in_slice counts: frame macroblocks, macroblock pairs (MBAFF), or
// the macroblocks of one field.
enum class TSliceLayout : std::uint8_t { Frame, Pairs, TopField, BottomField };

struct TSliceStart {
    std::uint32_t FirstMb = 0;
    TSliceLayout Layout = TSliceLayout::Frame;
};

// Numbers the macroblocks of map by the slices of starts (in decoding order; both fields'
// slices for a frame of two fields): each slice runs from its first macroblock to the next
// slice's start of the same field. Macroblocks before every start keep -1.
void AssignSlices(const std::vector<TSliceStart>& starts, TMacroblockMap& map);

// Reads the slice starts of access units from their bytes (Annex B, start codes), keeping
// the parameter sets they pass on the way, as the decoder that is given the same units does.
class TSliceStartReader {
  public:
    // Forgets the parameter sets.
    void Reset();
    // The starts of the slices in the access unit's bytes, in stream order; slices whose
    // header cannot be read (no parameter set yet, cut short) are left out.
    void Read(const std::uint8_t* data, std::size_t size, std::vector<TSliceStart>& starts);

  private:
    void ReadUnit(const std::uint8_t* unit, std::int64_t size, std::vector<TSliceStart>& starts);

    TSetStore FSets{nullptr};
    std::vector<std::uint8_t> FPayload; // reused from unit to unit
};

// Merges the second field's starts into those of the frame's first field when the two are
// the fields of one frame (opposite parities, both fields); false when they are not.
bool JoinFields(std::vector<TSliceStart>& first, const std::vector<TSliceStart>& second);
