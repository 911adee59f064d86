#include "cli/MacroblockCommand.h"

#include "cli/DumpOutput.h"
#include "cli/PictureCommand.h"
#include "decode/AccessUnitDecoder.h"
#include "decode/Overlay.h"
#include "decode/PictureWorker.h"
#include "decode/PngWriter.h"
#include "stream/FileStream.h"

#include <memory>

namespace {

// The picture at offset, decoded with its macroblocks; the exit status when there is none.
int DecodeWithMacroblocks(FileStream& stream, std::int64_t offset, bool macroblocks,
                          std::ostream& err, TDecodedPicture& decoded) {
    const std::int64_t size = stream.Size();
    if (!ListedUnitAt(stream, size, offset)) {
        err << "No NAL unit begins at offset " << offset << '\n';
        return 2;
    }
    const std::unique_ptr<IPictureDecoder> decoder = CreatePictureDecoder(0, macroblocks);
    if (!decoder) {
        err << "quillet-dump was " << kBuiltWithoutDecoder << '\n';
        return 1;
    }
    TAccessUnitDecoder units(stream, size, *decoder);
    TPictureAnswer answer = units.Decode(offset);
    if (answer.Outcome != TPictureOutcome::Done) {
        err << answer.Message << '\n';
        return 1;
    }
    decoded = std::move(answer.Decoded);
    if (macroblocks && !decoded.Picture.Macroblocks) {
        err << "the decoder gave no macroblocks for this picture\n";
        return 1;
    }
    return 0;
}

// Refuses items that need the macroblocks' QP, vectors or types from a decoder that tells
// only where they and the slices lie.
bool CodingMissing(const TPicture& picture, unsigned items, std::ostream& err) {
    if (picture.Macroblocks == nullptr || picture.Macroblocks->CodingKnown ||
        (items & ~unsigned{kOverlayGrid | kOverlaySlices}) == 0) {
        return false;
    }
    err << "this system's H.264 decoder tells no QP, vectors or macroblock types: of the "
           "overlays only grid and slices can be drawn\n";
    return true;
}

} // namespace

int DumpMacroblocks(FileStream& stream, std::int64_t offset, std::ostream& out, std::ostream& err) {
    TDecodedPicture decoded;
    if (const int status = DecodeWithMacroblocks(stream, offset, true, err, decoded)) {
        return status;
    }
    if (CodingMissing(decoded.Picture, ~0U, err)) {
        return 1;
    }
    const TMacroblockMap& map = *decoded.Picture.Macroblocks;
    std::string text = "{\"width_mbs\": " + std::to_string(map.WidthMbs) +
                       ", \"height_mbs\": " + std::to_string(map.HeightMbs) + ", \"mbs\": [";
    for (std::size_t i = 0; i < map.Mbs.size(); ++i) {
        const TMacroblock& mb = map.Mbs[i];
        text += std::string(i == 0 ? "\n" : ",\n") +
                "{\"x\": " + std::to_string(static_cast<int>(i) % map.WidthMbs) +
                ", \"y\": " + std::to_string(static_cast<int>(i) / map.WidthMbs) +
                ", \"qp\": " + (mb.Qp >= 0 ? std::to_string(mb.Qp) : "null") +
                ", \"intra\": " + (mb.Intra() ? "true" : "false") +
                ", \"slice\": " + (mb.Slice >= 0 ? std::to_string(mb.Slice) : "null") +
                ", \"mvs\": [";
        for (std::uint32_t k = 0; k < mb.VectorCount; ++k) {
            const TMotionVector& v = map.Vectors[mb.FirstVector + k];
            text += std::string(k == 0 ? "" : ", ") + "{\"list\": " + std::to_string(v.List) +
                    ", \"w\": " + std::to_string(v.W) + ", \"h\": " + std::to_string(v.H) +
                    ", \"x\": " + std::to_string(v.X) + ", \"y\": " + std::to_string(v.Y) +
                    ", \"dx\": " + QuarterPelText(v.Dx4) + ", \"dy\": " + QuarterPelText(v.Dy4) +
                    "}";
        }
        text += "]}";
        if (text.size() > 65536) {
            Write(out, text);
            text.clear();
        }
    }
    Write(out, text + "\n]}\n");
    WarnAboutPicture(decoded, err);
    return 0;
}

int DumpPicturePng(FileStream& stream, std::int64_t offset, const std::string& outPath,
                   unsigned overlay, std::ostream& out, std::ostream& err) {
    TDecodedPicture decoded;
    if (const int status = DecodeWithMacroblocks(stream, offset, overlay != 0, err, decoded)) {
        return status;
    }
    const TPicture& picture = decoded.Picture;
    if (CodingMissing(picture, overlay, err)) {
        return 1;
    }
    TRgbPixels rgb;
    if (!PictureToRgb32(picture, 0, 0, rgb)) {
        err << "the picture cannot be converted for PNG\n";
        return 1;
    }
    if (picture.Macroblocks) {
        DrawOverlay(*picture.Macroblocks, overlay, picture.Width, picture.Height, rgb);
    }
    std::string error;
    std::vector<std::uint8_t> png;
    if (!RgbToPng(rgb, png, error)) {
        err << "cannot make the PNG file: " << error << '\n';
        return 1;
    }
    if (!WriteOutput(outPath, png.data(), png.size(), out, error)) {
        err << error << '\n';
        return 1;
    }
    // The same warnings as the picture without an overlay: the lines drawn over it do not
    // make it any more the stream's own.
    WarnAboutPicture(decoded, err);
    return 0;
}
