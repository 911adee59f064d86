#include "decode/PictureDecoder.h"
#include "decode/PngWriter.h"

// The build without a decoding library.

bool DecoderBuilt() {
    return false;
}

std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int, bool) {
    return nullptr;
}

bool PictureToRgb32(const TPicture&, int, int, TRgbPixels&) {
    return false;
}
