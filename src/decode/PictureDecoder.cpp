#include "decode/PictureDecoder.h"

#include <algorithm>
#include <cmath>

// What every build has, decoder or not.

int TPicture::PlaneWidth(int plane) const {
    return plane == 0 || ChromaFormat == 3 ? Width : (Width + 1) / 2;
}

int TPicture::PlaneHeight(int plane) const {
    return plane == 0 || ChromaFormat != 1 ? Height : (Height + 1) / 2;
}

void FitPicture(const TPicture& picture, int width, int height, int& fitWidth, int& fitHeight) {
    double shownWidth = picture.Width;
    if (picture.SarNum > 0 && picture.SarDen > 0) {
        shownWidth = shownWidth * picture.SarNum / picture.SarDen;
    }
    const double shownHeight = picture.Height;
    double scale = 1.0;
    if (width > 0 && height > 0 && shownWidth > 0 && shownHeight > 0) {
        scale = std::min({1.0, width / shownWidth, height / shownHeight});
    }
    fitWidth = std::max(1, static_cast<int>(std::lround(shownWidth * scale)));
    fitHeight = std::max(1, static_cast<int>(std::lround(shownHeight * scale)));
}
