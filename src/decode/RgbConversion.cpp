#include "decode/RgbConversion.h"

// The colour conversion of a build with no conversion library (the Windows one): 8-bit
// samples of any chroma sampling, each shown pixel the average of the samples it covers.

#include <algorithm>
#include <cmath>

namespace {

// The part of a plane of `size` samples that output position i of n covers, at least one.
void Span(int i, int n, int size, int& from, int& to) {
    from = static_cast<int>(static_cast<std::int64_t>(i) * size / n);
    to = std::max(from + 1, static_cast<int>(static_cast<std::int64_t>(i + 1) * size / n));
}

std::uint32_t Clamp8(double v) {
    return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

bool PictureToRgb32(const TPicture& picture, int width, int height, TRgbPixels& rgb) {
    int outWidth = 0;
    int outHeight = 0;
    FitPicture(picture, width, height, outWidth, outHeight);
    return PictureToRgb32At(picture, outWidth, outHeight, rgb);
}

bool PictureToRgb32At(const TPicture& picture, int outWidth, int outHeight, TRgbPixels& rgb) {
    if (picture.BitDepth != 8 || picture.Width <= 0 || picture.Height <= 0 || outWidth <= 0 ||
        outHeight <= 0) {
        return false;
    }
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        if (picture.Planes[static_cast<std::size_t>(plane)].size() <
            static_cast<std::size_t>(picture.PlaneWidth(plane)) *
                static_cast<std::size_t>(picture.PlaneHeight(plane))) {
            return false;
        }
    }
    // Y' to R'G'B': the scale of the samples' range, and the matrix's red and blue weights.
    const double kr = picture.Bt709 ? 0.2126 : 0.299;
    const double kb = picture.Bt709 ? 0.0722 : 0.114;
    const double lumaScale = picture.FullRange ? 1.0 : 255.0 / 219.0;
    const double chromaScale = picture.FullRange ? 1.0 : 255.0 / 224.0;
    const double lumaOffset = picture.FullRange ? 0.0 : 16.0;
    rgb.Width = outWidth;
    rgb.Height = outHeight;
    rgb.Pixels.resize(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight));
    // The mean of one plane over the area output pixel (x, y) covers.
    const auto mean = [&](int plane, int x, int y) {
        const int w = picture.PlaneWidth(plane);
        int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        Span(x, outWidth, w, x0, x1);
        Span(y, outHeight, picture.PlaneHeight(plane), y0, y1);
        const std::uint8_t* samples = picture.Planes[static_cast<std::size_t>(plane)].data();
        std::uint32_t sum = 0;
        for (int sy = y0; sy < y1; ++sy) {
            for (int sx = x0; sx < x1; ++sx) {
                sum += samples[static_cast<std::size_t>(sy) * w + sx];
            }
        }
        return static_cast<double>(sum) / ((x1 - x0) * (y1 - y0));
    };
    for (int y = 0; y < outHeight; ++y) {
        for (int x = 0; x < outWidth; ++x) {
            std::uint32_t r = 0, g = 0, b = 0;
            if (picture.PlaneCount() == 1) {
                r = g = b = Clamp8((mean(0, x, y) - lumaOffset) * lumaScale);
            } else if (picture.Rgb) {
                g = Clamp8(mean(0, x, y));
                b = Clamp8(mean(1, x, y));
                r = Clamp8(mean(2, x, y));
            } else {
                const double luma = (mean(0, x, y) - lumaOffset) * lumaScale;
                const double cb = (mean(1, x, y) - 128.0) * chromaScale;
                const double cr = (mean(2, x, y) - 128.0) * chromaScale;
                const double red = luma + 2.0 * (1.0 - kr) * cr;
                const double blue = luma + 2.0 * (1.0 - kb) * cb;
                r = Clamp8(red);
                b = Clamp8(blue);
                g = Clamp8((luma - kr * red - kb * blue) / (1.0 - kr - kb));
            }
            rgb.Pixels[static_cast<std::size_t>(y) * outWidth + x] =
                0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return true;
}
