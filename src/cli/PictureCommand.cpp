#include "cli/PictureCommand.h"

#include "decode/AccessUnitDecoder.h"
#include "decode/PictureWorker.h"
#include "decode/Y4mWriter.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <cctype>
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

// The picture as the file's name asks: PNG for a name ending in .png, YUV4MPEG2 otherwise.
// False with the reason when it cannot be written.
bool WritePicture(const TPicture& picture, const std::string& outPath, std::ostream& out,
                  std::string& error) {
    if (IsPngPath(outPath)) {
        std::vector<std::uint8_t> png;
        if (!PictureToPng(picture, png, error)) {
            error = "cannot make the PNG file: " + error;
            return false;
        }
        return WriteOutput(outPath, png.data(), png.size(), out, error);
    }
    if (Y4mColourTag(picture).empty()) {
        error = picture.Rgb ? kY4mRgbMessage
                            : "YUV4MPEG2 has no colour tag for this picture's sampling";
        return false;
    }
    // Written straight out: a copy of a picture of 8192x4320 samples is hundreds of MB.
    return WriteOutput(
        outPath, [&](std::ostream& to) { WriteY4m(to, picture); }, out, error);
}

} // namespace

bool IsPngPath(const std::string& path) {
    return path.size() > 4 && path[path.size() - 4] == '.' &&
           std::tolower(static_cast<unsigned char>(path[path.size() - 3])) == 'p' &&
           std::tolower(static_cast<unsigned char>(path[path.size() - 2])) == 'n' &&
           std::tolower(static_cast<unsigned char>(path[path.size() - 1])) == 'g';
}

bool WriteOutput(const std::string& path, const void* data, std::size_t size, std::ostream& out,
                 std::string& error) {
    return WriteOutput(
        path,
        [&](std::ostream& to) {
            to.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        },
        out, error);
}

bool WriteOutput(const std::string& path, const std::function<void(std::ostream&)>& write,
                 std::ostream& out, std::string& error) {
    // The reason is taken from the failing call itself: opening a directory, a missing
    // folder or a file without permission fails at the open, a full disk at the write.
    errno = 0;
    std::ofstream file;
    std::ostream* target = &out;
    if (path != "-") {
        file.open(path, std::ios::binary | std::ios::trunc);
        target = &file;
    }
    if (*target) {
        errno = 0;
        write(*target);
        target->flush();
    }
    if (!*target) {
        const int code = errno;
        error = "cannot write output: " + (path == "-" ? std::string() : path + ": ") +
                (code != 0 ? std::strerror(code) : "the output stream failed");
        return false;
    }
    return true;
}

void WarnAboutPicture(const TDecodedPicture& decoded, std::ostream& err) {
    for (const std::string& line : PictureWarnings(decoded)) {
        err << "warning: " << line << '\n';
    }
}

int DumpPicture(FileStream& stream, std::int64_t offset, const std::string& outPath,
                std::ostream& out, std::ostream& err) {
    const std::int64_t size = stream.Size();
    if (!ListedUnitAt(stream, size, offset)) {
        err << "No NAL unit begins at offset " << offset << '\n';
        return 2;
    }
    std::unique_ptr<IPictureDecoder> decoder = CreatePictureDecoder();
    if (!decoder) {
        err << (DecoderBuilt() ? "quillet-dump: " : "quillet-dump was ") << NoDecoderText() << '\n';
        return 1;
    }
    auto units = std::make_unique<TAccessUnitDecoder>(stream, size, *decoder);
    // Asked once: the picture moves out of the decoder's keeping, and the decoder with its
    // reference pictures is gone before the picture is converted and written.
    units->HandOverPictures();
    const TPictureAnswer answer = units->Decode(offset);
    units.reset();
    decoder.reset();
    if (answer.Outcome != TPictureOutcome::Done) {
        err << answer.Message << '\n';
        return 1;
    }
    std::string error;
    if (!WritePicture(answer.Decoded.Picture, outPath, out, error)) {
        err << error << '\n';
        return 1;
    }
    WarnAboutPicture(answer.Decoded, err);
    return 0;
}
