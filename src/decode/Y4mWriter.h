#pragma once

#include "decode/PictureDecoder.h"

#include <ostream>
#include <string>

// The YUV4MPEG2 colour tag of a picture's sampling: C420mpeg2 (H.264's default siting),
// C420jpeg or C420paldv by chroma_sample_loc_type, C422, C444, Cmono, and for more than 8
// bits C420p10, C422p10, C444p10, Cmono10 and so on. Empty for a sampling the format has no
// tag for: RGB among them.
std::string Y4mColourTag(const TPicture& picture);

inline constexpr const char* kY4mRgbMessage =
    "YUV4MPEG2 holds no RGB pictures: write the picture as OUT.png instead";

// Writes picture as a one-frame YUV4MPEG2 file: the header line, "FRAME" and the planes as
// they are. The header carries the frame rate of the stream's timing (25:1 without one), the
// sample aspect ratio, the interlacing and the range (XCOLORRANGE). Throws
// std::runtime_error for a sampling the format cannot hold.
void WriteY4m(std::ostream& out, const TPicture& picture);
