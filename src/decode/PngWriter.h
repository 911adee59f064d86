#pragma once

#include "decode/PictureDecoder.h"

#include <string>

// Writes rgb as a PNG file at path (replacing it), through the decoding library's PNG
// encoder; false with the reason when it cannot (or the program has no decoder).
bool WritePng(const TRgbPixels& rgb, const std::string& path, std::string& error);
