#include "decode/PictureDecoder.h"

// The build without a decoding library.

bool DecoderBuilt() {
    return false;
}

std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int) {
    return nullptr;
}

bool PictureToRgb32(const TPicture&, int, int, TRgbPixels&) {
    return false;
}
