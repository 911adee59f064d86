#include "decode/PictureDecoder.h"

// What every build has, decoder or not.

int TPicture::PlaneWidth(int plane) const {
    return plane == 0 || ChromaFormat == 3 ? Width : (Width + 1) / 2;
}

int TPicture::PlaneHeight(int plane) const {
    return plane == 0 || ChromaFormat != 1 ? Height : (Height + 1) / 2;
}
