#pragma once

// What the decoder is let hold: no more reference frames than the highest level allows for
// the picture's size, whatever a sequence parameter set declares, so that a stream asking
// for 16 frames of 8192x4320 does not take gigabytes. The set the decoder is given is
// rewritten with the bound; the pictures say that it was.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TSeqParameterSet;

// PicWidthInMbs * FrameHeightInMbs.
std::uint64_t FrameSizeInMbs(const TSeqParameterSet& sps);

// MaxDpbFrames of level 6.2 for the set's frame size, at least 1.
std::uint32_t BoundedReferenceFrames(const TSeqParameterSet& sps);

// What a picture of a set declaring more reference frames than the bound carries; empty
// when the set keeps within it.
std::string ReferenceBoundNote(const TSeqParameterSet& sps);

// A sequence parameter set unit (from its header byte on, emulation prevention in place):
// when max_num_ref_frames, or the VUI's max_num_reorder_frames or max_dec_frame_buffering,
// is over the bound, or the set has no VUI bitstream restriction, true with the unit
// rewritten in out: the counts cut to the bound, a restriction added that says what its
// absence means (the buffer's frames by the set's level, within the bound), every other
// bit as it was. False when there is nothing to change, or the set cannot be read (it then
// goes as it is).
bool BoundSequenceSet(const std::uint8_t* unit, std::size_t size, std::vector<std::uint8_t>& out);

// The same for a unit that begins with its start code, rewritten in place.
void BoundSequenceSetUnit(std::vector<std::uint8_t>& unit);

// The same for every sequence parameter set among units each of which begins with
// 00 00 00 01.
void BoundSequenceSetsIn(std::vector<std::uint8_t>& units);
