#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class FileStream;

// quillet-dump --macroblocks OFFSET FILE: the macroblocks of the picture of the access unit
// that holds the NAL unit at OFFSET, as one JSON document. Exit status as DumpPicture's.
int DumpMacroblocks(FileStream& stream, std::int64_t offset, std::ostream& out, std::ostream& err);

// quillet-dump --picture OFFSET OUT.png [--overlay ITEMS] FILE: that picture as a PNG file
// at its full size with its samples' shape, with the overlay items (TOverlayItem) drawn
// over it. Exit status as DumpPicture's.
int DumpPicturePng(FileStream& stream, std::int64_t offset, const std::string& outPath,
                   unsigned overlay, std::ostream& out, std::ostream& err);
