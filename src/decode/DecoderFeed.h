#pragma once

// What a system's H.264 decoder is given of an access unit, and what the stream says of the
// pictures it will give back: the parts of the Windows decoder that need no Windows, so
// that they are tested and fuzzed with the rest.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The stream's own description of its pictures, from its sequence parameter set: the
// decoder's output keeps the coded size (1088 rows for 1080) and, under Wine, no display
// area, so the program crops it.
struct TSequenceShape {
    bool Known = false;
    int CodedWidth = 0;
    int CodedHeight = 0;
    int CropLeft = 0;
    int CropTop = 0;
    int Width = 0;
    int Height = 0;
    int ChromaFormat = 1;
    int BitDepth = 8;
    bool Interlaced = false;
    bool FullRange = false;
    bool Bt709 = false;
    // The matrix_coefficients the stream names; 2 (unspecified) when it names none.
    std::uint32_t Matrix = 2;
    int SarNum = 0;
    int SarDen = 0;
    // Frames the decoder may keep, references and pictures waiting for their turn: what
    // the stream promises in its VUI, else what its level lets a picture of this size
    // hold, within what the highest level allows.
    int Buffer = 1;
    // What a slice header of the set needs, for FillerIdr.
    std::uint32_t SpsId = 0;
    bool Mbaff = false;
    int FrameNumBits = 4;
    std::uint32_t PocType = 0;
    int PocLsbBits = 4;
    bool PocDeltaZero = false;
};

// What of an access unit the decoder is given: every unit but delimiters, end marks,
// filler and SEI messages other than recovery points, which decode to nothing and some of
// which (frame packing) Wine's parser stumbles over. The last sequence parameter set that
// parses gives the shape; idr: it holds an IDR slice.
// The address space the 32-bit program's decoding may take, and what decoding pictures of
// a shape is expected to take at its peak, in MiB: what Wine's decoder was measured to
// hold (some 12 pictures' worth whatever the stream, and 2.6 more for each frame its
// buffer may keep) with the program's own copies and a working set beside them, and 7
// pictures' worth more for making a PNG file of one while the decoder still holds its
// own. Beyond about 1,330 MiB the 32-bit address space ran out.
inline constexpr std::int64_t kDecodingBudgetMiB = 1200;
std::int64_t DecodingPeakMiB(const TSequenceShape& shape);

// Whether the Windows program decodes the shape's pictures: only 8-bit 4:2:0 and 4:0:0,
// the samplings its decoder gives as they are (no other is converted in secret), and only
// within its address space, said before anything is allocated. False with the line that
// says why.
bool WindowsDecoderTakes(const TSequenceShape& shape, std::string& why);

// An IDR picture of the shape's size that decodes without residual (every macroblock
// intra 16x16 DC, no coefficients), with a picture parameter set of its own (id 0, CAVLC)
// for the shape's sequence parameter set, as Annex B units: sent after a stream's last
// unit, it pushes out every picture a decoder still holds. Empty for a shape not known.
void FillerIdr(const TSequenceShape& shape, std::vector<std::uint8_t>& out);

void Decodable(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
               bool& idr, TSequenceShape& shape);
