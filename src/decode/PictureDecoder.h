#pragma once

// The picture decoder behind a small interface. Only its implementation sees the decoding
// library; without one in the build, CreatePictureDecoder answers null and the rest of the
// program says so where the picture would be.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TMacroblockMap;

// One decoded picture in the stream's own sampling: planes of Width x Height luma samples
// and chroma as ChromaFormat says (0: none, 1: 4:2:0, 2: 4:2:2, 3: 4:4:4), rows packed
// without padding, one byte a sample up to 8 bits and two (little-endian) above.
struct TPicture {
    int Width = 0;
    int Height = 0;
    int ChromaFormat = 1;
    int BitDepth = 8;
    // The sample aspect ratio; 0:0 when the stream does not say.
    int SarNum = 0;
    int SarDen = 0;
    bool Interlaced = false;
    bool TopFieldFirst = false;
    // The decoder says it did not have all the picture needs (references missing, or the
    // stream not yet recovered where decoding began), and what went wrong (TDecodeError).
    bool Corrupt = false;
    unsigned DecodeErrors = 0;
    // Colour: full-range samples, and BT.709 primaries rather than BT.601 ones.
    bool FullRange = false;
    bool Bt709 = false;
    // The samples are G, B, R planes rather than Y, Cb, Cr.
    bool Rgb = false;
    // From the sequence parameter set: chroma_sample_loc_type (0, left-sited, when the VUI
    // does not say) and the frame rate (0/0 when it gives no timing).
    int ChromaSampleLoc = 0;
    int RateNum = 0;
    int RateDen = 0;
    std::array<std::vector<std::uint8_t>, 3> Planes;
    // QP, vectors and slices of each macroblock, from a decoder made to give them; shared,
    // as the map does not change once made.
    std::shared_ptr<const TMacroblockMap> Macroblocks;

    int PlaneCount() const { return ChromaFormat == 0 ? 1 : 3; }
    int PlaneWidth(int plane) const;
    int PlaneHeight(int plane) const;
    int BytesPerSample() const { return BitDepth > 8 ? 2 : 1; }
};

// What a decoder may say went wrong in a picture it gave out.
enum TDecodeError : unsigned {
    kDecodeInvalidData = 1,      // data it could not read
    kDecodeMissingReference = 2, // a reference picture it did not hold
    kDecodeConcealed = 4,        // macroblocks filled in from their neighbours
    kDecodeSlicesMissing = 8,    // slices that did not decode
};

// One access unit for the decoder: Annex B bytes with start codes, the tag its picture comes
// out with, and a number that increases in output order over the units sent since Reset
// (from the picture order count, carried across IDR pictures), for decoders that need
// their input's times to rise in display order.
struct TAccessUnitIn {
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
    std::int64_t Tag = 0;
    std::int64_t OutputOrder = 0;
};

// Decodes access units in decoding order. Pictures come out in output order, each with the
// tag its access unit was sent with, possibly several units later.
class IPictureDecoder {
  public:
    virtual ~IPictureDecoder() = default;
    // Starts afresh, as a new decoder: no references, no pictures held back.
    virtual void Reset() = 0;
    // Decodes one access unit. False with the decoder's reason when it refused the data.
    virtual bool Send(const TAccessUnitIn& unit, std::string& error) = 0;
    // The tag of the unit whose error the last Send reported, sent with sentTag: a decoder
    // that works on several units at once tells a unit's error some units later.
    virtual std::int64_t FailedTag(std::int64_t sentTag) const { return sentTag; }
    // No more units follow: the pictures held back come out. Only Reset comes after it.
    virtual bool Drain(std::string& error) = 0;
    // The next picture out: its tag, and the picture copied to where place(tag) says, or
    // dropped uncopied when it says nowhere (null). False when none is ready.
    virtual bool Receive(const std::function<TPicture*(std::int64_t tag)>& place,
                         std::int64_t& tag) = 0;
};

// True when the program was built with a decoder.
bool DecoderBuilt();

// What is said when the program was built with a decoder the system does not have.
inline constexpr const char* kNoDecoderOnSystem = "no H.264 decoder on this system";

// A new decoder; null when built without one, or when the system has none (DecoderBuilt
// says which). threads: 0 decodes on one thread, the only way the decoder marks every
// damaged picture; more are for measuring. macroblocks: its pictures carry their
// macroblock map, which costs the decoder the export.
std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int threads = 0, bool macroblocks = false);

// Why CreatePictureDecoder answered null: "built without a decoder", or why the decoder
// built could not be loaded.
std::string NoDecoderText();

// A picture to show: Width x Height square pixels 0xFFRRGGBB, row after row.
struct TRgbPixels {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
};

// The size a picture is shown at within width x height, its samples' shape applied (a
// picture of 720x576 with samples of 16:11 is as wide as 1047x576), never larger than that
// shape at full size; the full size with the shape applied when width or height is 0.
void FitPicture(const TPicture& picture, int width, int height, int& fitWidth, int& fitHeight);

// The picture as a PNG file: 8-bit RGB (16-bit above 8 bits a sample), converted with the
// picture's own matrix and range. False with the reason when it cannot be made (or there
// is no decoder library).
bool PictureToPng(const TPicture& picture, std::vector<std::uint8_t>& png, std::string& error);

// The picture converted for showing it, scaled to FitPicture's size, so that the window
// draws it without scaling a full-size picture itself; false when it cannot be converted
// (or there is no decoder).
bool PictureToRgb32(const TPicture& picture, int width, int height, TRgbPixels& rgb);
