// Any bytes as a file, through quillet-dump's entry point in every mode that walks the
// file, and as standard input. The listing must list what a byte-by-byte walk lists; --info
// and --find write the listing's own lines; standard input gives what the file gives; and
// find's forward and backward steps, with small blocks, meet the units --find lists.

#include "FuzzSupport.h"
#include "cli/DumpCommand.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "support/NaiveUnits.h"
#include "syntax/AccessUnit.h"
#include "model/UnitSearch.h"

#include <fcntl.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TRun {
    int Status = 0;
    std::string Out;
};

TRun Run(std::vector<std::string> args) {
    std::ostringstream out, err;
    TRun run;
    run.Status = RunDump(args, out, err);
    run.Out = out.str();
    return run;
}

// The same run with the file as standard input.
TRun RunPiped(std::vector<std::string> args, const std::string& path) {
    const int saved = dup(0);
    const int fd = open(path.c_str(), O_RDONLY);
    dup2(fd, 0);
    close(fd);
    args.emplace_back("-");
    TRun run = Run(std::move(args));
    dup2(saved, 0);
    close(saved);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A line without its fifth field.
std::string FourFields(const std::string& line) {
    std::size_t at = 0;
    for (int tabs = 0; tabs < 4 && at != std::string::npos; ++tabs) {
        at = line.find('\t', at + 1);
    }
    return line.substr(0, at);
}

std::string Field(const std::string& json, const char* upTo) {
    const std::size_t line = json.find('\n');
    const std::size_t end = json.find(upTo);
    return line == std::string::npos ? json : json.substr(line, end - line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("dump");
    file.Write(data, size);
    const std::string& path = file.Path();
    const char* kinds[] = {"idr", "i", "p", "b", "sps", "pps", "sei", "sei:5", "6", "9", "14"};
    const std::string kind = kinds[size > 0 ? data[0] % std::size(kinds) : 0];

    const TRun listing = Run({path});
    FuzzCheck(listing.Status == 0 || listing.Status == 1, "the listing's status is 0 or 1");
    const std::vector<std::string> lines = Lines(listing.Out);
    if (listing.Status == 0) {
        const std::vector<TNalUnitSpan> units = NaiveUnits({data, data + size}, 0);
        FuzzCheck(lines.size() == units.size(), "the listing lists every start code");
        for (std::size_t i = 0; i < lines.size(); ++i) {
            FuzzCheck(std::stoll(lines[i], nullptr, 16) == units[i].Offset, "at its offset");
        }
    }
    const TRun info = Run({"--info", path});
    const TRun find = Run({"--find", kind, path});
    const TRun findInfo = Run({"--find", kind, "--info", path});
    const TRun summary = Run({"--summary", path});
    for (const TRun* run : {&info, &find, &findInfo, &summary}) {
        FuzzCheck(run->Status == listing.Status, "every walk ends as the listing does");
    }
    const std::vector<std::string> infoLines = Lines(info.Out);
    FuzzCheck(infoLines.size() == lines.size(), "--info lists every unit");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FuzzCheck(FourFields(infoLines[i]) == lines[i], "--info adds to the listing's line");
    }
    const std::vector<std::string> found = Lines(find.Out);
    const std::vector<std::string> foundInfo = Lines(findInfo.Out);
    FuzzCheck(found.size() == foundInfo.size(), "--find with --info finds the same units");
    std::size_t at = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        FuzzCheck(FourFields(foundInfo[i]) == found[i], "--info adds to --find's line");
        while (at < lines.size() && lines[at] != found[i]) {
            ++at;
        }
        FuzzCheck(at < lines.size(), "--find writes the listing's lines, in order");
    }

    // Standard input, read once forward, gives what the file gives.
    FuzzCheck(RunPiped({}, path).Out == listing.Out, "standard input lists the same");
    FuzzCheck(RunPiped({"--info"}, path).Out == info.Out, "standard input's --info");
    FuzzCheck(RunPiped({"--find", kind, "--info"}, path).Out == findInfo.Out,
              "standard input's --find");
    FuzzCheck(Field(RunPiped({"--summary"}, path).Out, "\"buckets\"") ==
                  Field(summary.Out, "\"buckets\""),
              "standard input's summary");

    if (listing.Status != 0) {
        return 0;
    }
    // Find's steps with blocks small enough that units cross them.
    FileStream stream;
    FuzzCheck(stream.Open(path), "the file opens");
    const std::int32_t block = 16 + (size > 1 ? data[1] % 200 : 0);
    TUnitSearch search(stream, block);
    const TFindKind what = *ParseFindKind(kind);
    std::vector<std::int64_t> forward;
    for (std::optional<std::int64_t> next = search.Next(what, 0); next;
         next = search.Next(what, *next + 1)) {
        forward.push_back(*next);
    }
    // A step from the middle reads the sets before it by the rule the walk learns them by,
    // so it judges pictures as --find does.
    FuzzCheck(forward.size() == found.size(), "stepping forward meets what --find lists");
    for (std::size_t i = 0; i < found.size(); ++i) {
        FuzzCheck(std::stoll(found[i], nullptr, 16) == forward[i], "at the same offsets");
    }
    const bool picture =
        what.What == TFindKind::TWhat::Idr || what.What == TFindKind::TWhat::IPicture ||
        what.What == TFindKind::TWhat::PPicture || what.What == TFindKind::TWhat::BPicture;
    // Backward a picture is judged from the block's start; units of a type are met alike.
    if (!picture) {
        std::vector<std::int64_t> backward;
        for (std::optional<std::int64_t> previous = search.Previous(what, search.FileSize());
             previous && *previous > 0; previous = search.Previous(what, *previous - 1)) {
            backward.push_back(*previous);
        }
        std::reverse(backward.begin(), backward.end());
        if (!forward.empty() && forward.front() == 0) {
            backward.insert(backward.begin(), 0);
        }
        FuzzCheck(backward == forward, "stepping backward meets the same units");
    }
    return 0;
}
