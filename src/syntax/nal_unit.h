#pragma once

#include "syntax/BitStream4.h"
#include "syntax/FieldLines.h"
#include "syntax/GoverningSets.h"
#include "toolkit/Toolkit.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Bytes read at a NAL unit's offset for its detail tree.
inline constexpr std::int32_t kDetailReadSize = 2097152; // 2 MiB

// Answers the chroma_format_idc of the sequence parameter set with the given
// seq_parameter_set_id that governs the picture parameter set being decoded; no value
// when none is found.
using TChromaFormatLookup =
    std::function<std::optional<std::uint32_t>(std::uint32_t seq_parameter_set_id)>;

// What the detail of one NAL unit tells besides its lines.
struct TNalUnitDetail {
    // A parameter set whose payload ends before its last element (or is empty): its tree
    // stops at the last line whose data was read in full, and "NAL" ends with
    // EndsEarlyLine(PayloadBits).
    bool EndsEarly = false;
    std::int64_t PayloadBits = 0; // after the header byte, emulation prevention removed
};

// What the detail adds when asked: with Sets, slice headers and SEI messages get their
// element lines, their parameter sets found through Sets; with Bits, every element line's
// place is told to Bits as its first bit and width in the unit as stored, counted from the
// first bit of its start code (emulation-prevention bytes included).
struct TFullDecoding {
    IGoverningSets* Sets = nullptr;
    ILineBits* Bits = nullptr;
    // The problems the unit's own checks find (syntax/Checks.h: its header, bytes, parameter
    // sets and small payloads; not those between units), each a line "! SEVERITY: reason
    // [rule, clause]" under "NAL" after its structure.
    bool Problems = false;
    // Called after a slice header's lines with the tree and the unit's "NAL" line: the
    // picture model's nodes for the slice, where the caller can walk to them.
    std::function<void(ITreeLines&, TTreeLine)> SliceLines = nullptr;
};

// "NAL unit ends early: data ends after N bits".
std::string EndsEarlyLine(std::int64_t payloadBits);

// Fills the tree with the detail of the NAL unit whose start code begins at data[0]: the
// root line "NAL", its three header lines and the structure of its type, parameter sets
// decoded through reader. n is the count of bytes read at the unit's offset; the unit is
// measured within them. rbsp is caller-owned scratch of at least n bytes that receives the
// unit without emulation-prevention bytes (reader stays bound into it afterwards). lookup
// is asked only for a picture parameter set whose scaling list flags depend on it, and
// may be empty. detail, when given, receives what the tree tells besides its lines. full,
// when given, adds the deeper decoding; without it the slice and SEI lines are leaves.
//
// A start code with no header byte of its own (it ends the bytes, or the next start code
// follows at once) shows "NAL" with the one line kNoHeaderText. Returns false when there
// is nothing to show: n of 0 or less leaves the tree as it was; bytes that do not begin
// with a start code leave it cleared. Exceptions other than those the parse and tree
// routines report themselves pass to the caller.
//
// A caller that has measured the unit in these very bytes, with the same search for the
// next start code, passes its length as measured, which spares measuring it again.
bool DecodeNalUnit(const std::uint8_t* data, std::int32_t n, std::uint8_t* rbsp,
                   TBitStream4& reader, ITreeLines& tree, const TChromaFormatLookup& lookup,
                   TNalUnitDetail* detail = nullptr, const TFullDecoding* full = nullptr,
                   std::int32_t measured = 0);
