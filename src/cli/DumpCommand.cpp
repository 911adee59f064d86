#include "cli/DumpCommand.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/NalUnitReader.h"

#include <cerrno>
#include <cstring>
#include <exception>

namespace {

constexpr const char* kUsage = "usage: quillet-dump FILE";

// Prints one line per NAL unit of the whole file: Offset, Len, Start Code, NAL Type.
void PrintListing(FileStream& stream, std::ostream& out) {
    TNalUnitReader reader(stream);
    TNalUnitSpan span;
    std::string line;
    while (reader.Next(span)) {
        line = NalOffsetText(span.Offset);
        line += '\t';
        line += std::to_string(span.Length);
        line += '\t';
        line += NalStartCodeText(span.StartCodeLength == 4, span.Header);
        line += '\t';
        line += NalTypeText(span.Header);
        line += '\n';
        out << line;
    }
}

} // namespace

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        err << kUsage << '\n';
        return 2;
    }
    const std::string& path = args[0];
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
        PrintListing(stream, out);
    } catch (const std::exception& e) {
        err << "Error reading " << path << ": " << e.what() << '\n';
        return 1;
    }
    return out ? 0 : 1;
}
