#include "cli/DumpCommand.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/NalUnitReader.h"
#include "syntax/SyntaxTree.h"
#include "syntax/nal_unit.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>

namespace {

constexpr const char* kUsage = "usage: quillet-dump [--at OFFSET | --trees] FILE";

enum class TDumpMode { Listing, At, Trees };

struct TDumpArgs {
    TDumpMode Mode = TDumpMode::Listing;
    std::int64_t Offset = 0;
    std::string Path;
};

// A non-negative offset in decimal or, after 0x, hexadecimal; nothing else.
std::optional<std::int64_t> ParseOffset(const std::string& text) {
    int base = 10;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        first += 2;
    }
    if (first == last || *first == '-' || *first == '+') {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}

std::optional<TDumpArgs> ParseArgs(const std::vector<std::string>& args) {
    TDumpArgs parsed;
    std::size_t pathIndex = 0;
    if (args.size() == 3 && args[0] == "--at") {
        const auto offset = ParseOffset(args[1]);
        if (!offset) {
            return std::nullopt;
        }
        parsed.Mode = TDumpMode::At;
        parsed.Offset = *offset;
        pathIndex = 2;
    } else if (args.size() == 2 && args[0] == "--trees") {
        parsed.Mode = TDumpMode::Trees;
        pathIndex = 1;
    } else if (args.size() != 1) {
        return std::nullopt;
    }
    parsed.Path = args[pathIndex];
    if (parsed.Path.empty() || parsed.Path[0] == '-') {
        return std::nullopt;
    }
    return parsed;
}

// Prints one line per NAL unit of the whole file: Offset, Len, Start Code, NAL Type.
std::string ListingLine(const TNalUnitSpan& span) {
    std::string line = NalOffsetText(span.Offset);
    line += '\t';
    line += std::to_string(span.Length);
    line += '\t';
    line += NalStartCodeText(span.StartCodeLength == 4, span.Header);
    line += '\t';
    line += NalTypeText(span.Header);
    line += '\n';
    return line;
}

void PrintListing(FileStream& stream, std::ostream& out) {
    TNalUnitReader reader(stream);
    TNalUnitSpan span;
    while (reader.Next(span)) {
        out << ListingLine(span);
    }
}

// Decodes NAL units the way the window's detail tree does: one read of up to 2 MiB at the
// unit's offset, the governing SPS looked for in the file before it. Buffers are
// allocated once for the whole run.
class TTreeDumper {
  public:
    explicit TTreeDumper(FileStream& stream)
        : FStream(stream), FRead(new std::uint8_t[kDetailReadSize]),
          FRbsp(new std::uint8_t[kDetailReadSize]),
          FSearch(new std::uint8_t[kGoverningSpsSearchSize]) {}

    // False when no NAL unit begins at offset. A caller that knows the unit's length
    // passes it, so that a walk over the whole file does not read 2 MiB per unit; the four
    // bytes after the unit still come along, so that it is measured as the window does.
    bool Decode(std::int64_t offset, std::int64_t knownLength = kDetailReadSize) {
        if (offset >= FStream.Size()) {
            return false; // nothing to read there, however far past the end
        }
        FStream.Seek(offset);
        const auto count =
            static_cast<std::int32_t>(std::min<std::int64_t>(knownLength + 4, kDetailReadSize));
        const std::int32_t n = FStream.Read(FRead.get(), count);
        const TChromaFormatLookup lookup =
            [this, offset](std::uint32_t id) -> std::optional<std::uint32_t> {
            std::uint32_t chroma_format_idc = 0;
            if (FindGoverningSpsChromaFormat(FStream, offset, id, FSearch.get(),
                                             chroma_format_idc)) {
                return chroma_format_idc;
            }
            return std::nullopt;
        };
        FTree.ClearLines();
        return DecodeNalUnit(FRead.get(), n, FRbsp.get(), FReader, FTree, lookup);
    }

    // Every line, whatever its expanded state, two spaces per level after indent.
    void Print(std::ostream& out, int indent) const {
        std::string text;
        FTree.Walk([&](const TSyntaxLine& line, int depth) {
            text.assign(static_cast<std::size_t>(indent + 2 * depth), ' ');
            text += line.Text;
            text += '\n';
            out << text;
        });
    }

  private:
    FileStream& FStream;
    std::unique_ptr<std::uint8_t[]> FRead;
    std::unique_ptr<std::uint8_t[]> FRbsp;
    std::unique_ptr<std::uint8_t[]> FSearch;
    TBitStream4 FReader;
    TSyntaxTree FTree;
};

void PrintTrees(FileStream& stream, FileStream& detail, std::ostream& out) {
    TNalUnitReader reader(stream);
    TTreeDumper dumper(detail);
    TNalUnitSpan span;
    while (reader.Next(span)) {
        out << ListingLine(span);
        if (dumper.Decode(span.Offset, span.Length)) {
            dumper.Print(out, 2);
        }
    }
}

} // namespace

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::optional<TDumpArgs> parsed = ParseArgs(args);
    if (!parsed) {
        err << kUsage << '\n';
        return 2;
    }
    const std::string& path = parsed->Path;
    FileStream stream;
    if (!stream.Open(path)) {
        err << "Cannot open " << path << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    if (!IsH264VideoES(stream)) {
        err << "Not valid H.264 video elementary stream\n";
        return 1;
    }
    try {
        switch (parsed->Mode) {
        case TDumpMode::Listing:
            PrintListing(stream, out);
            break;
        case TDumpMode::At: {
            TTreeDumper dumper(stream);
            if (!dumper.Decode(parsed->Offset)) {
                err << "No NAL unit begins at offset " << parsed->Offset << '\n';
                return 2;
            }
            dumper.Print(out, 0);
            break;
        }
        case TDumpMode::Trees: {
            // The listing walks the file with its own reads; the trees read at each offset.
            FileStream detail;
            if (!detail.Open(path)) {
                err << "Cannot open " << path << ": " << std::strerror(errno) << '\n';
                return 1;
            }
            PrintTrees(stream, detail, out);
            break;
        }
        }
    } catch (const std::exception& e) {
        err << "Error reading " << path << ": " << e.what() << '\n';
        return 1;
    }
    return out ? 0 : 1;
}
