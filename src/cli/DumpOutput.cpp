#include "cli/DumpOutput.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>

namespace {

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
    std::memcpy(out, type.data(), type.size());
    out += type.size();
    *out++ = '\n';
    return {line, static_cast<std::size_t>(out - line)};
}

TLineBuffer::TLineBuffer(std::ostream& out)
    : FOut(out), FBuffer(new char[kSize]) {} // not cleared: only what is written is read

void TLineBuffer::AppendInParts(std::string_view text) {
    while (!text.empty()) {
        if (FUsed == kSize) {
            Drain();
        }
        const std::size_t part = std::min(text.size(), kSize - FUsed);
        std::memcpy(FBuffer.get() + FUsed, text.data(), part);
        FUsed += part;
        text.remove_prefix(part);
    }
}

void TLineBuffer::Drain(bool flush) {
    Write(FOut, {FBuffer.get(), FUsed});
    FUsed = 0;
    if (flush) {
        Flush(FOut);
    }
}

char* WriteBitPosition(char* out, std::int64_t unitOffset, std::int64_t firstBit) {
    out = std::copy_n(" @0x", 4, out);
    char* digits = out;
    out =
        std::to_chars(out, out + 16, static_cast<std::uint64_t>(unitOffset + firstBit / 8), 16).ptr;
    std::transform(digits, out, digits,
                   [](char c) { return c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c; });
    *out++ = '.';
    *out++ = static_cast<char>('0' + firstBit % 8);
    return out;
}

namespace {

constexpr std::string_view kBlanks =
    "                                                                ";

void AppendIndent(std::size_t width, TLineBuffer& lines) {
    for (; width > kBlanks.size(); width -= kBlanks.size()) {
        lines.Append(kBlanks);
    }
    lines.Append(kBlanks.substr(0, width));
}

// The lines from line on and their children, at indent; bitsOf: the unit's offset when
// element lines end with their bit position.
void AppendLines(const TDumpLine* line, std::size_t indent, const std::int64_t* bitsOf,
                 TLineBuffer& lines) {
    for (; line != nullptr; line = line->Next) {
        // The usual line goes out in one piece: indent, text, bit position and line end.
        const std::string_view text = line->Text();
        if (indent <= kBlanks.size() &&
            kBlanks.size() + text.size() + kBitPositionMaxSize + 1 <= TLineBuffer::kRoomMaxSize) {
            // The blanks go in as one whole copy; the text then covers those past the indent.
            char* out = lines.Room(TLineBuffer::kRoomMaxSize);
            std::memcpy(out, kBlanks.data(), kBlanks.size());
            out = CopyText(out + indent, text);
            if (bitsOf != nullptr && line->FirstBit >= 0) {
                out = WriteBitPosition(out, *bitsOf, line->FirstBit);
            }
            *out++ = '\n';
            lines.Commit(out);
        } else {
            AppendIndent(indent, lines);
            lines.Append(text);
            if (bitsOf != nullptr && line->FirstBit >= 0) {
                lines.Commit(
                    WriteBitPosition(lines.Room(kBitPositionMaxSize), *bitsOf, line->FirstBit));
            }
            lines.Append('\n');
        }
        if (line->FirstChild != nullptr) {
            AppendLines(line->FirstChild, indent + 2, bitsOf, lines);
        }
    }
}

} // namespace

void AppendTreeText(const TDumpTree& tree, std::size_t indent,
                    const std::optional<std::int64_t>& bitsOf, TLineBuffer& lines) {
    const std::int64_t* const unitOffset = bitsOf ? &*bitsOf : nullptr;
    for (const TDumpLine* root : tree.Roots()) {
        AppendLines(root, indent, unitOffset, lines); // roots are not linked to each other
    }
}
