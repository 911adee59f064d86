// Any bytes as an access unit for the system's decoder: what it is given must be the input's
// own units, in order, less the kinds it is spared, as a plain byte-by-byte split finds
// them; the shape of the pictures, when a sequence parameter set gives one, must lie
// within the coded picture with a sampling and a buffer there can be; and the IDR picture
// made for the shape must be given to the decoder whole, as an IDR picture.

#include "FuzzSupport.h"
#include "decode/DecoderFeed.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    bool idr = false;
    TSequenceShape shape;
    Decodable(data, size, out, idr, shape);

    // The oracle: start codes where 00 00 01 stands, each unit running to the next one's
    // zeros (a 00 00 00 01's first zero ends the unit before it).
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            const bool four =
                i > 0 && data[i - 1] == 0 && (starts.empty() || starts.back() + 3 <= i - 1);
            starts.push_back(four ? i - 1 : i);
            i += 2;
        }
    }
    std::vector<std::uint8_t> expected;
    bool expectedIdr = false;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t begin = starts[k];
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : size;
        const std::size_t header = begin + (data[begin + 2] == 1 ? 3 : 4);
        const int type = header < end ? data[header] & 0x1F : 0;
        expectedIdr = expectedIdr || type == 5;
        const bool recovery = type == 6 && header + 1 < end && data[header + 1] == 6;
        if ((type == 6 && !recovery) || (type >= 9 && type <= 12)) {
            continue;
        }
        expected.insert(expected.end(), data + begin, data + end);
    }
    FuzzCheck(out == expected, "the decoder is given the input's units less those it is spared");
    FuzzCheck(idr == expectedIdr, "an IDR slice is noticed");
    if (shape.Known) {
        FuzzCheck(shape.Width > 0 && shape.Height > 0 && shape.CropLeft >= 0 &&
                      shape.CropTop >= 0 && shape.CropLeft + shape.Width <= shape.CodedWidth &&
                      shape.CropTop + shape.Height <= shape.CodedHeight,
                  "the shown picture lies within the coded one");
        FuzzCheck(shape.BitDepth >= 8 && shape.BitDepth <= 14 && shape.ChromaFormat >= 0 &&
                      shape.ChromaFormat <= 3 && shape.Buffer >= 1 && shape.Buffer <= 16,
                  "a sampling and a buffer there can be");
        if (shape.CodedWidth / 16 * (shape.CodedHeight / 16) <= 8160) {
            std::vector<std::uint8_t> filler;
            FillerIdr(shape, filler);
            TSequenceShape unchanged = shape;
            Decodable(filler.data(), filler.size(), out, idr, unchanged);
            FuzzCheck(idr && out == filler, "the filler is an IDR picture given whole");
        }
    }
    return 0;
}
