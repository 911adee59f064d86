#include "decode/Y4mWriter.h"

#include <stdexcept>

std::string Y4mColourTag(const TPicture& picture) {
    if (picture.Rgb) {
        return {}; // the format knows only Y'CbCr and grey
    }
    static const char* const kBase[] = {"mono", "420", "422", "444"};
    if (picture.ChromaFormat < 0 || picture.ChromaFormat > 3) {
        return {};
    }
    std::string tag = std::string("C") + kBase[picture.ChromaFormat];
    if (picture.BitDepth > 8) {
        tag += (picture.ChromaFormat == 0 ? "" : "p") + std::to_string(picture.BitDepth);
    } else if (picture.ChromaFormat == 1) {
        // Left of the luma sample pair (0) is H.264's default; centred (1) and co-sited (2)
        // have tags of their own, the vertical sitings (3 to 5) none.
        static const char* const kSiting[] = {"mpeg2", "jpeg", "paldv"};
        if (picture.ChromaSampleLoc >= 0 && picture.ChromaSampleLoc <= 2) {
            tag += kSiting[picture.ChromaSampleLoc];
        }
    }
    return tag;
}

void WriteY4m(std::ostream& out, const TPicture& picture) {
    const std::string colour = Y4mColourTag(picture);
    if (colour.empty()) {
        throw std::runtime_error(picture.Rgb
                                     ? kY4mRgbMessage
                                     : "YUV4MPEG2 has no colour tag for this picture's sampling");
    }
    const char interlacing = !picture.Interlaced ? 'p' : picture.TopFieldFirst ? 't' : 'b';
    const bool timed = picture.RateNum > 0 && picture.RateDen > 0;
    std::string header =
        "YUV4MPEG2 W" + std::to_string(picture.Width) + " H" + std::to_string(picture.Height) +
        " F" + std::to_string(timed ? picture.RateNum : 25) + ":" +
        std::to_string(timed ? picture.RateDen : 1) + " I" + interlacing + " A" +
        std::to_string(picture.SarNum) + ":" + std::to_string(picture.SarDen) + " " + colour +
        " XCOLORRANGE=" + (picture.FullRange ? "FULL" : "LIMITED") + "\nFRAME\n";
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        const auto& samples = picture.Planes[static_cast<std::size_t>(plane)];
        out.write(reinterpret_cast<const char*>(samples.data()),
                  static_cast<std::streamsize>(samples.size()));
    }
}
