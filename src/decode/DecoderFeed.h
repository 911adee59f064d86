#pragma once

// What a system's H.264 decoder is given of an access unit, and what the stream says of the
// pictures it will give back: the parts of the Windows decoder that need no Windows, so
// that they are tested and fuzzed with the rest.

#include <cstddef>
#include <cstdint>
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
};

// What of an access unit the decoder is given: every unit but delimiters, end marks,
// filler and SEI messages other than recovery points, which decode to nothing and some of
// which (frame packing) Wine's parser stumbles over. The last sequence parameter set that
// parses gives the shape; idr: it holds an IDR slice.
void Decodable(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out,
               bool& idr, TSequenceShape& shape);
