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

namespace {

// The listing shows a unit at offset: a start code there that is not the tail of a longer
// one.
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

bool WritePicture(const TPicture& picture, const std::string& outPath, std::ostream& out,
                  std::ostream& err) {
    std::ofstream file;
    std::ostream* target = &out;
    if (outPath != "-") {
        file.open(outPath, std::ios::binary | std::ios::trunc);
        target = &file;
    }
    errno = 0;
    if (*target) {
        WriteY4m(*target, picture);
        target->flush();
    }
    if (!*target) {
        const int error = errno;
        err << "cannot write output: " << (error != 0 ? std::strerror(error) : outPath.c_str())
            << '\n';
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
    if (Y4mColourTag(answer.Decoded.Picture).empty()) {
        err << "YUV4MPEG2 has no colour tag for this picture's sampling\n";
        return 1;
    }
    return WritePicture(answer.Decoded.Picture, outPath, out, err) ? 0 : 1;
}
