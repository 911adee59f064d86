#pragma once

// The expected pictures of tests/data (ffmpeg's own decode, see make_pictures.sh) and what
// is compared with them.

#include "decode/PictureDecoder.h"
#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "support/TestSupport.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ExpectedPicture {
    std::int64_t Pos = 0;
    std::string Format; // ffmpeg's pixel format name
    std::string Size;   // "WxH"
    std::string Type;   // I, P or B
    std::uint32_t Checksum = 0;
};

// The lines of NAME.pictures (or NAME.rp.pictures); from: the "from" line's offset, 0 when
// there is none.
inline std::vector<ExpectedPicture> ReadPictures(const std::string& file,
                                                 std::int64_t* from = nullptr) {
    std::ifstream in(TestDataPath(file));
    std::vector<ExpectedPicture> pictures;
    std::string first;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        if (line.rfind("from ", 0) == 0) {
            fields >> first >> *from;
            continue;
        }
        ExpectedPicture p;
        fields >> p.Pos >> p.Format >> p.Size >> p.Type >> std::hex >> p.Checksum;
        pictures.push_back(p);
    }
    return pictures;
}

// Adler-32 over the planes, rows without padding, as ffmpeg's showinfo computes it.
inline std::uint32_t PlanesChecksum(const TPicture& picture) {
    std::uint32_t a = 0; // ffmpeg starts its sums at 0, not at 1 as zlib does
    std::uint32_t b = 0;
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        for (const std::uint8_t byte : picture.Planes[static_cast<std::size_t>(plane)]) {
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
    }
    return (b << 16) | a;
}

// ffmpeg's name of the picture's sampling.
inline std::string FormatName(const TPicture& picture) {
    if (picture.ChromaFormat == 0) {
        return picture.BitDepth > 8 ? "gray" + std::to_string(picture.BitDepth) + "le" : "gray";
    }
    static const char* const kChroma[] = {"", "420", "422", "444"};
    std::string name =
        picture.Rgb ? "gbrp"
                    : std::string(picture.FullRange && picture.BitDepth == 8 ? "yuvj" : "yuv") +
                          kChroma[picture.ChromaFormat] + "p";
    if (picture.BitDepth > 8) {
        name += std::to_string(picture.BitDepth) + "le";
    }
    return name;
}

// Every listed unit's offset, in file order.
inline std::vector<std::int64_t> UnitOffsets(const std::string& path) {
    FileStream stream;
    std::vector<std::int64_t> offsets;
    if (!stream.Open(path)) {
        return offsets;
    }
    TUnitCursor reader(stream);
    TNalUnitSpan span;
    while (reader.Next(span)) {
        offsets.push_back(span.Offset);
    }
    return offsets;
}
