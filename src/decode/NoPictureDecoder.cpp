#include "decode/PictureDecoder.h"
#include "decode/PngWriter.h"
#include "decode/PictureWorker.h"

// The build without a decoding library.

bool DecoderBuilt() {
    return false;
}

std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int, bool) {
    return nullptr;
}

std::string NoDecoderText() {
    return kBuiltWithoutDecoder;
}

bool PictureToRgb32(const TPicture&, int, int, TRgbPixels&) {
    return false;
}
