#pragma once

#include "decode/PictureDecoder.h"

#include <ostream>
#include <string>

// The YUV4MPEG2 colour tag of a picture's sampling: C420jpeg, C422, C444, Cmono, and for
// more than 8 bits C420p10, C422p10, C444p10, Cmono10 and so on. Empty for a sampling the
// format has no tag for.
std::string Y4mColourTag(const TPicture& picture);

// Writes picture as a one-frame YUV4MPEG2 file: the header line, "FRAME" and the planes as
// they are. frameRateNum/Den go into the header (F), the sample aspect ratio (A) and the
// interlacing (I) come from the picture. Throws std::runtime_error for a sampling the
// format cannot hold.
void WriteY4m(std::ostream& out, const TPicture& picture, int frameRateNum = 25,
              int frameRateDen = 1);
