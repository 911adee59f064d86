#include "decode/PictureDecoder.h"
#include "decode/PngWriter.h"

// Builds without libavcodec have no PNG encoder.

namespace {

constexpr const char* kNoPng = "PNG needs the decoding library, which this build was made without";

} // namespace

bool PictureToPng(const TPicture&, std::vector<std::uint8_t>&, std::string& error) {
    error = kNoPng;
    return false;
}

bool RgbToPng(const TRgbPixels&, std::vector<std::uint8_t>&, std::string& error) {
    error = kNoPng;
    return false;
}
