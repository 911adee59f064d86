#pragma once

#include "decode/PictureDecoder.h"

#include <cstdint>
#include <string>
#include <vector>

// rgb as the bytes of a PNG file, through the decoding library's PNG encoder; false with
// the reason when it cannot (or the program has no decoder). Writing them is the caller's,
// who can name the file in what it says.
bool RgbToPng(const TRgbPixels& rgb, std::vector<std::uint8_t>& png, std::string& error);
