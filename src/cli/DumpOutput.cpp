#include "cli/DumpOutput.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

namespace {

constexpr std::size_t kLineBufferSize = 256 << 10;

void CheckOutput(const std::ostream& out) {
    if (!out) {
        const int error = errno;
        throw EOutput(error != 0 ? std::strerror(error) : "the output stream failed");
    }
}

} // namespace

void Write(std::ostream& out, std::string_view text) {
    errno = 0; // so that a failure below reports its own reason
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    CheckOutput(out);
}

void Flush(std::ostream& out) {
    errno = 0;
    out.flush();
    CheckOutput(out);
}

std::string_view ListingLine(const TNalUnitSpan& span, char* line) {
    char* out = WriteNalOffsetText(line, span.Offset);
    *out++ = '\t';
    out = std::to_chars(out, out + 20, span.Length).ptr;
    *out++ = '\t';
    out = WriteNalStartCodeText(out, span.StartCodeLength == 4, span.Header);
    *out++ = '\t';
    const std::string_view type = span.HasHeader ? NalTypeName(span.Header) : kNoHeaderText;
    out = std::copy(type.begin(), type.end(), out);
    *out++ = '\n';
    return {line, static_cast<std::size_t>(out - line)};
}

TLineBuffer::TLineBuffer(std::ostream& out)
    : FOut(out), FBuffer(std::make_unique<char[]>(kLineBufferSize)) {}

char* TLineBuffer::Room(std::size_t maxSize) {
    if (kLineBufferSize - FUsed < maxSize) {
        Drain();
    }
    return FBuffer.get() + FUsed;
}

void TLineBuffer::Append(std::string_view text) {
    while (!text.empty()) {
        const std::size_t part = std::min(text.size(), kLineBufferSize - FUsed);
        std::copy_n(text.data(), part, FBuffer.get() + FUsed);
        FUsed += part;
        text.remove_prefix(part);
        if (FUsed == kLineBufferSize) {
            Drain();
        }
    }
}

void TLineBuffer::Drain(bool flush) {
    Write(FOut, {FBuffer.get(), FUsed});
    FUsed = 0;
    if (flush) {
        Flush(FOut);
    }
}
