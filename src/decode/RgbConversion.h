#pragma once

// The Windows program's own colour conversion, for the PNG file as for the window.

#include "decode/PictureDecoder.h"

// The picture as 0xFFRRGGBB pixels of outWidth x outHeight, whatever its samples' shape:
// PictureToRgb32 once the size is fitted, and a PNG file at the picture's own size.
bool PictureToRgb32At(const TPicture& picture, int outWidth, int outHeight, TRgbPixels& rgb);
