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

bool PictureToPng(const TPicture&, std::vector<std::uint8_t>&, std::string& error) {
    error = "PNG needs the decoding library, which this build was made without";
    return false;
}
