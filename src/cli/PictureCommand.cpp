#include "cli/PictureCommand.h"

#include "decode/AccessUnitDecoder.h"
#include "decode/PictureWorker.h"
#include "decode/Y4mWriter.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

bool ListedUnitAt(FileStream& stream, std::int64_t size, std::int64_t offset) {
    if (offset >= size) {
        return false;
    }
    std::uint8_t bytes[6] = {};
    const std::int64_t from = offset > 0 ? offset - 1 : 0;
    const std::int32_t got = ReadWithinSize(stream, from, bytes, 6, size);
    const std::int32_t before = offset > 0 ? 1 : 0;
    return BeginsListedNalUnit(bytes + before, got - before, before == 1 && bytes[0] == 0);
}

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The picture as the file's name asks: PNG for a name ending in .png, YUV4MPEG2 otherwise.
// False with the reason when it cannot be written.
bool WritePicture(const TPicture& picture, const std::string& outPath, std::ostream& out,
                  std::string& error) {
    std::string bytes;
    if (EndsWith(outPath, ".png") || EndsWith(outPath, ".PNG")) {
        std::vector<std::uint8_t> png;
        if (!PictureToPng(picture, png, error)) {
            error = "cannot make the PNG file: " + error;
            return false;
        }
        bytes.assign(png.begin(), png.end());
    } else {
        if (Y4mColourTag(picture).empty()) {
            error = picture.Rgb ? kY4mRgbMessage
                                : "YUV4MPEG2 has no colour tag for this picture's sampling";
            return false;
        }
        std::ostringstream y4m;
        WriteY4m(y4m, picture);
        bytes = std::move(y4m).str();
    }
    std::ofstream file;
    std::ostream* target = &out;
    if (outPath != "-") {
        file.open(outPath, std::ios::binary | std::ios::trunc);
        target = &file;
    }
    errno = 0;
    if (*target) {
        target->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        target->flush();
    }
    if (!*target) {
        const int code = errno;
        error = std::string("cannot write output: ") +
                (code != 0 ? std::strerror(code) : outPath.c_str());
        return false;
    }
    return true;
}

} // namespace

int DumpPicture(FileStream& stream, std::int64_t offset, const std::string& outPath,
                std::ostream& out, std::ostream& err) {
    const std::int64_t size = stream.Size();
    if (!ListedUnitAt(stream, size, offset)) {
        err << "No NAL unit begins at offset " << offset << '\n';
        return 2;
    }
    const std::unique_ptr<IPictureDecoder> decoder = CreatePictureDecoder();
    if (!decoder) {
        err << (DecoderBuilt() ? "quillet-dump: " : "quillet-dump was ") << NoDecoderText() << '\n';
        return 1;
    }
    TAccessUnitDecoder units(stream, size, *decoder);
    const TPictureAnswer answer = units.Decode(offset);
    if (answer.Outcome != TPictureOutcome::Done) {
        err << answer.Message << '\n';
        return 1;
    }
    std::string error;
    if (!WritePicture(answer.Decoded.Picture, outPath, out, error)) {
        err << error << '\n';
        return 1;
    }
    if (!answer.Decoded.Facts.Exact) {
        err << "warning: " << InexactNote(answer.Decoded.Facts) << '\n';
    }
    return 0;
}
