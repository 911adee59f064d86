#include "cli/DumpCommand.h"

#include "cli/CheckCommand.h"

#include "cli/DumpModes.h"
#include "cli/PicturesCommand.h"
#include "cli/DumpOutput.h"
#include "cli/HrdCommand.h"
#include "cli/JsonTree.h"
#include "cli/MacroblockCommand.h"
#include "cli/PictureCommand.h"
#include "core/DebugOutput.h"
#include "decode/Overlay.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "model/PictureAt.h"
#include "model/SetStore.h"
#include "syntax/AccessUnit.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/SyntaxTree.h"
#include "syntax/nal_unit.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

// The project's one version number, given by the build.
constexpr const char* kVersionText = "quillet-dump " QUILLET_VERSION;

constexpr const char* kUsage =
    "usage: quillet-dump [--debug] [--at OFFSET | --trees] [--full] [--bits] FILE\n"
    "       quillet-dump [--debug] --json FILE\n"
    "       quillet-dump [--debug] [--info] [--find KIND] FILE\n"
    "       quillet-dump [--debug] --summary FILE\n"
    "       quillet-dump [--debug] --pictures [--json | --display-order] FILE\n"
    "       quillet-dump [--debug] --picture OFFSET OUT.y4m FILE\n"
    "       quillet-dump [--debug] --picture OFFSET OUT.png [--overlay ITEMS] FILE\n"
    "       quillet-dump [--debug] --macroblocks OFFSET FILE\n"
    "       quillet-dump [--debug] --hrd [--json] [--what-if RATE,SIZE[,DELAY[,FPS]]] FILE\n"
    "       quillet-dump [--debug] --levels FILE\n"
    "       quillet-dump [--debug] --check [--json] FILE\n"
    "       quillet-dump --help | --version";

constexpr const char* kAbout =
    "Lists the NAL units of an H.264 Annex B elementary stream, one line each: the\n"
    "offset, the length, the start code with the header byte and the NAL unit type,\n"
    "separated by tabs. The file is read in blocks with fixed memory, whatever its\n"
    "size, and never written.";

constexpr const char* kExitStatus =
    "Exit status: 0 done; 1 the file cannot be opened or read, is not an H.264\n"
    "elementary stream, changes while it is read, the output cannot be written, or\n"
    "the picture cannot be decoded; 2 bad arguments, or an OFFSET at which no NAL unit\n"
    "begins; 3 --check found an error (warnings and notes alone give 0), or (--hrd,\n"
    "--what-if, --levels) the stream breaks its buffer model or its level's limits.";

enum class TDumpMode {
    Listing, At, Trees, Json, Find, Summary, Picture, Macroblocks, Pictures, Hrd, Levels, Check
};

struct TDumpArgs {
    TDumpMode Mode = TDumpMode::Listing;
    const char* ModeOption = nullptr; // the option that chose the mode
    std::int64_t Offset = 0;
    std::string Path;
    bool Debug = false;
    bool Full = false;               // slice headers and SEI messages in the trees
    bool Bits = false;               // where each element line's bits lie in the file
    bool Info = false;               // the listing's fifth field, the unit's summary
    bool PicturesJson = false;       // --pictures with --json
    bool DisplayOrder = false;       // --pictures in display order
    TFindKind Kind;                  // with --find
    std::string Output;              // --picture: the YUV4MPEG2 file to write
    std::optional<unsigned> Overlay; // --overlay: TOverlayItem bits
    bool HrdJson = false;            // --hrd --json
    std::optional<TWhatIf> WhatIf;   // --what-if
    bool CheckJson = false;          // --check with --json
    // Answered whatever else is given.
    bool Help = false;
    bool Version = false;
};

// A refusal of the arguments: what was wrong, in a few words.
class EArguments : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A non-negative offset in decimal or, after 0x, hexadecimal; nothing else.
std::optional<std::int64_t> ParseOffset(const std::string& text) {
    return ParseOffsetText(text);
}

void SetMode(TDumpArgs& args, TDumpMode mode, const char* option) {
    if (args.ModeOption != nullptr) {
        throw EArguments(std::string(args.ModeOption) + " and " + option + " cannot go together");
    }
    args.Mode = mode;
    args.ModeOption = option;
}

// One option: its name (and a short one), the name of its value (none for a flag), what
// --help says of it, and what it does to the arguments. A new mode is one more line here
// and one more case in Dump.
struct TOption {
    const char* Name;
    const char* Short;
    const char* Value;
    const char* Help;
    void (*Apply)(TDumpArgs& args, const TOption& option, const std::string& value);
};

template <TDumpMode Mode>
void ChooseMode(TDumpArgs& args, const TOption& option, const std::string&) {
    SetMode(args, Mode, option.Name);
}

// A mode that works on the unit at the option's OFFSET.
template <TDumpMode Mode>
void ChooseModeAt(TDumpArgs& args, const TOption& option, const std::string& value) {
    const auto offset = ParseOffset(value);
    if (!offset) {
        throw EArguments("OFFSET " + value + " is not an offset");
    }
    SetMode(args, Mode, option.Name);
    args.Offset = *offset;
}

const TOption kOptions[] = {
    {"--at", nullptr, "OFFSET",
     "the detail tree of the NAL unit whose start code begins at\n"
     "OFFSET (decimal, or hexadecimal after 0x), as listed",
     ChooseModeAt<TDumpMode::At>},
    {"--trees", nullptr, nullptr, "every NAL unit's line followed by its detail tree",
     ChooseMode<TDumpMode::Trees>},
    {"--picture", nullptr, "OFFSET",
     "with OUT.y4m before FILE: write the decoded picture of the\n"
     "access unit of the NAL unit at OFFSET as YUV4MPEG2",
     ChooseModeAt<TDumpMode::Picture>},
    {"--overlay", nullptr, "ITEMS",
     "with --picture and OUT.png: draw over the picture the\n"
     "comma-separated ITEMS of qp, intra, mv, grid and slices",
     [](TDumpArgs& a, const TOption&, const std::string& value) {
         a.Overlay = ParseOverlayItems(value);
         if (value.empty()) {
             throw EArguments("--overlay needs at least one item");
         }
         if (!a.Overlay) {
             throw EArguments("ITEMS " + value + " are not overlay items");
         }
     }},
    {"--macroblocks", nullptr, "OFFSET",
     "the QP, vectors and slice of each macroblock of the picture\n"
     "of the access unit of the NAL unit at OFFSET, as JSON",
     ChooseModeAt<TDumpMode::Macroblocks>},
    {"--full", nullptr, nullptr,
     "with --at or --trees: also decode slice headers and SEI\nmessages",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Full = true; }},
    {"--bits", nullptr, nullptr,
     "with --at or --trees: end each element line with the file\n"
     "byte and the bit of its first bit, as \" @0x1D.3\"",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Bits = true; }},
    {"--json", nullptr, nullptr,
     "the listing and every unit's full tree with its bits, as\none JSON document; "
     "with --pictures, the pictures; with\n--hrd, the buffer model's; with --check, "
     "its problems\nand counts",
     [](TDumpArgs& a, const TOption& o, const std::string&) {
         if (a.Mode == TDumpMode::Pictures) {
             a.PicturesJson = true;
         } else if (a.Mode == TDumpMode::Hrd) {
             a.HrdJson = true;
         } else if (a.Mode == TDumpMode::Check) {
             a.CheckJson = true;
         } else {
             SetMode(a, TDumpMode::Json, o.Name);
         }
     }},
    {"--pictures", nullptr, nullptr,
     "one line per picture in decoding order: its type, order\n"
     "count, size, QPs, the decoded picture buffer after it, its\n"
     "reference lists and what is wrong (the README says each\nfield)",
     [](TDumpArgs& a, const TOption& o, const std::string&) {
         const bool json = a.Mode == TDumpMode::Json;
         if (json) {
             a.ModeOption = nullptr; // --json only asked for the pictures as JSON
         }
         SetMode(a, TDumpMode::Pictures, o.Name);
         a.PicturesJson = json;
     }},
    {"--display-order", nullptr, nullptr, "with --pictures: the lines in display order",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.DisplayOrder = true; }},
    {"--hrd", nullptr, nullptr,
     "the coded picture buffer of every HRD and schedule the\n"
     "stream declares, run exactly: one line per access unit\n"
     "(arrival, removal, fullness), its problems and a summary",
     [](TDumpArgs& a, const TOption& o, const std::string&) {
         if (a.Mode == TDumpMode::Json) { // --json --hrd: the model's JSON
             a.Mode = TDumpMode::Hrd;
             a.ModeOption = o.Name;
             a.HrdJson = true;
         } else if (a.Mode != TDumpMode::Hrd) {
             SetMode(a, TDumpMode::Hrd, o.Name);
         }
     }},
    {"--what-if", nullptr, "RATE,SIZE[,DELAY[,FPS]]",
     "run the buffer model with these figures in place of the\n"
     "stream's: bits/s and bits (k, M allowed), the initial\n"
     "delay in seconds (the time to fill the buffer if not\n"
     "given), the frame rate (the stream's if not given)",
     [](TDumpArgs& a, const TOption& o, const std::string& value) {
         a.WhatIf = ParseWhatIf(value);
         if (!a.WhatIf) {
             throw EArguments("--what-if " + value + " is not RATE,SIZE[,DELAY[,FPS]]");
         }
         if (a.Mode == TDumpMode::Json) {
             a.Mode = TDumpMode::Hrd;
             a.ModeOption = o.Name;
             a.HrdJson = true;
         } else if (a.Mode != TDumpMode::Hrd) {
             SetMode(a, TDumpMode::Hrd, o.Name);
         }
     }},
    {"--levels", nullptr, nullptr,
     "the limits of each sequence parameter set's level, per set\n"
     "and per picture: each violation with its limit, value and\nbound",
     ChooseMode<TDumpMode::Levels>},
    {"--check", nullptr, nullptr,
     "check the stream against the standard's rules: one line per\n"
     "problem (offset, unit type, severity, rule, reason), then\n"
     "the counts by rule after \"# \"",
     [](TDumpArgs& a, const TOption& o, const std::string&) {
         if (a.Mode == TDumpMode::Json) { // --json came first
             a.Mode = TDumpMode::Check;
             a.ModeOption = o.Name;
             a.CheckJson = true;
         } else {
             SetMode(a, TDumpMode::Check, o.Name);
         }
     }},
    {"--info", nullptr, nullptr,
     "add to each listing line a tab and what the unit is (the\nwindow's Info column)",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Info = true; }},
    {"--find", nullptr, "KIND",
     "only the listing lines of the units of KIND: a\n"
     "nal_unit_type, idr, i, p, b, sps, pps, sei or sei:N",
     [](TDumpArgs& a, const TOption& o, const std::string& value) {
         const auto kind = ParseFindKind(value);
         if (!kind) {
             throw EArguments("KIND " + value + " is not a kind of unit");
         }
         SetMode(a, TDumpMode::Find, o.Name);
         a.Kind = *kind;
     }},
    {"--summary", nullptr, nullptr, "the whole stream's figures, as one JSON document",
     ChooseMode<TDumpMode::Summary>},
    {"--debug", nullptr, nullptr, "also write the viewer's debugger lines to standard error",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Debug = true; }},
    {"--help", "-h", nullptr, "print this help and exit",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Help = true; }},
    {"--version", nullptr, nullptr, "print the version and exit",
     [](TDumpArgs& a, const TOption&, const std::string&) { a.Version = true; }},
};

const TOption* FindOption(const std::string& name) {
    for (const TOption& option : kOptions) {
        if (name == option.Name || (option.Short != nullptr && name == option.Short)) {
            return &option;
        }
    }
    return nullptr;
}

bool PngOutput(const TDumpArgs& args) {
    return args.Mode == TDumpMode::Picture && IsPngPath(args.Output);
}

TDumpArgs ParseArgs(const std::vector<std::string>& args) {
    TDumpArgs parsed;
    std::vector<std::string> files;
    bool optionsEnd = false; // after "--" every argument is a file
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        const TOption* option = FindOption(arg);
        if (option == nullptr) {
            throw EArguments("unknown option " + arg);
        }
        std::string value;
        if (option->Value != nullptr) {
            if (i + 1 >= args.size()) {
                throw EArguments(arg + " needs " + option->Value);
            }
            value = args[++i];
        }
        option->Apply(parsed, *option, value);
    }
    if (parsed.Help || parsed.Version) {
        return parsed;
    }
    if (parsed.Mode == TDumpMode::Json) {
        if (parsed.Full || parsed.Bits) {
            throw EArguments(std::string("--json always holds what ") +
                             (parsed.Full ? "--full" : "--bits") + " adds");
        }
        // The export always holds the deeper trees with their bits.
        parsed.Full = true;
        parsed.Bits = true;
    } else if ((parsed.Mode == TDumpMode::Listing || parsed.Mode == TDumpMode::Find ||
                parsed.Mode == TDumpMode::Summary || parsed.Mode == TDumpMode::Picture ||
                parsed.Mode == TDumpMode::Macroblocks || parsed.Mode == TDumpMode::Pictures ||
                parsed.Mode == TDumpMode::Hrd || parsed.Mode == TDumpMode::Levels ||
                parsed.Mode == TDumpMode::Check) &&
               (parsed.Full || parsed.Bits)) {
        throw EArguments(std::string(parsed.Full ? "--full" : "--bits") +
                         " needs --at or --trees"); // the listing has no trees to deepen
    }
    if (parsed.Info && parsed.Mode != TDumpMode::Listing && parsed.Mode != TDumpMode::Find) {
        throw EArguments("--info goes with the listing or --find"); // a field of its lines
    }
    if (parsed.DisplayOrder && parsed.Mode != TDumpMode::Pictures) {
        throw EArguments("--display-order goes with --pictures");
    }
    if (parsed.Mode == TDumpMode::Picture) {
        if (files.size() != 2) {
            throw EArguments("--picture needs OUT.y4m and FILE");
        }
        parsed.Output = files.front(); // the first of the two is where the picture goes
        files.erase(files.begin());
    }
    if (parsed.Overlay && !PngOutput(parsed)) {
        throw EArguments("--overlay needs --picture with OUT.png");
    }
    if (files.empty()) {
        throw EArguments("no FILE given");
    }
    if (files.size() > 1) {
        throw EArguments("one FILE at a time: " + files[1] + " is one too many");
    }
    parsed.Path = files.front();
    if (parsed.Path.empty()) {
        throw EArguments("FILE is empty");
    }
    return parsed;
}

std::string HelpText() {
    static constexpr std::size_t kColumn = 18; // where the help of each option begins
    std::string text = std::string(kUsage) + "\n\n" + kAbout + "\n\nOptions:\n";
    const auto entry = [&text](std::string name, const std::string& help) {
        name.insert(0, "  ");
        name.resize(std::max(name.size() + 1, kColumn), ' ');
        text += name;
        for (const char c : help) {
            text += c;
            if (c == '\n') {
                text.append(kColumn, ' ');
            }
        }
        text += '\n';
    };
    for (const TOption& option : kOptions) {
        std::string name = option.Short != nullptr ? std::string(option.Short) + ", " : "";
        name += option.Name;
        if (option.Value != nullptr) {
            name = name + " " + option.Value;
        }
        entry(name, option.Help);
    }
    entry("-", "as FILE: standard input, for the listing, --info, --find,\n--summary, "
               "--pictures, --hrd, --levels and --check");
    entry("--", "what follows is FILE, even when it begins with -");
    return text + "\n" + kExitStatus + "\n";
}

// Debugger lines (the SPS warnings, the error lines of guarded routines) go to standard
// error with --debug and nowhere otherwise: standard error carries the reason for a
// failure, and a run that succeeds leaves it empty.
class TDebugLines {
  public:
    explicit TDebugLines(std::ostream* err)
        : FPrevious(SetDebugSink([err](std::string_view line) {
              if (err != nullptr) {
                  *err << line << '\n';
              }
          })) {}
    ~TDebugLines() { SetDebugSink(std::move(FPrevious)); }
    TDebugLines(const TDebugLines&) = delete;
    TDebugLines& operator=(const TDebugLines&) = delete;

  private:
    DebugSink FPrevious;
};

// Lines collect in a buffer that goes out when it is full and whenever the walk has moved
// on to another block of the file: few writes, and what is listed is out before the walk
// reads on. Blocks of 1 MiB are still in the processor's cache when the scan comes to them;
// on Windows, where under Wine each read and write is a call to its server, blocks of
// 4 MiB list faster.
#ifdef _WIN32
constexpr std::int32_t kListingBlock = 4 << 20;
#else
constexpr std::int32_t kListingBlock = 1 << 20;
#endif

void PrintListing(FileStream& stream, std::ostream& out) {
    TUnitCursor reader(stream, kListingBlock, true);
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    while (reader.Next(span)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        lines.Commit(ListingLine(span, lines.Room(kListingLineMaxSize)).size());
    }
    lines.Drain();
}

// Decodes NAL units the way the window's detail tree does: one read of up to 2 MiB at the
// unit's offset, the governing SPS looked for in the file before it. Buffers are
// allocated once for the whole run. fileSize is the file's size when the run began; a
// file that no longer holds those bytes ends the run with EFileChanged.
class TTreeDumper {
  public:
    TTreeDumper(FileStream& stream, std::int64_t fileSize, const TDumpArgs& args)
        : FStream(stream), FFileSize(fileSize), FFull(args.Full), FBits(args.Bits),
          FRead(new std::uint8_t[kDetailReadSize + 1]), FRbsp(new std::uint8_t[kDetailReadSize]),
          FSets(&stream), FWalkSets(nullptr) {
        // A walk's unit sees the sets the window's tree would find looking back from it.
        FWalkSets.SetReach(kParameterSetSearchBound);
    }

    // False when the listing shows no NAL unit at offset. A caller that knows the unit's
    // length passes it, so that a walk over the whole file does not read 2 MiB per unit;
    // the four bytes after the unit still come along, so that it is measured as the
    // window does. A walk that holds those bytes (walk) saves the read; its units come
    // through Decode(span, walk), which keeps the walk's sets.
    bool Decode(std::int64_t offset, std::int64_t knownLength = kDetailReadSize,
                const TUnitCursor* walk = nullptr) {
        if (offset >= FFileSize) {
            return false; // nothing to read there, however far past the end
        }
        // The byte before the offset tells a listed start code from the 00 00 01 inside
        // a 00 00 00 01.
        const std::int32_t before = offset > 0 ? 1 : 0;
        const auto count =
            static_cast<std::int32_t>(std::min<std::int64_t>(knownLength + 4, kDetailReadSize));
        const std::uint8_t* bytes = nullptr;
        std::int32_t got = walk != nullptr ? walk->Held(offset - before, before + count, bytes) : 0;
        // The walk measured the unit in the bytes it holds, up to the next start code; in
        // bytes read again, or cut at the read's size, the unit is measured anew.
        std::int32_t measured = 0;
        if (got == before + count && knownLength + 4 <= kDetailReadSize) {
            measured = static_cast<std::int32_t>(knownLength);
        } else if (got != before + count) {
            got = ReadWithinSize(FStream, offset - before, FRead.get(), before + count, FFileSize);
            bytes = FRead.get();
        }
        const std::uint8_t* data = bytes + before;
        const std::int32_t n = got - before;
        if (!BeginsListedNalUnit(data, n, before == 1 && bytes[0] == 0)) {
            return false;
        }
        FTree.ClearLines();
        if (walk == nullptr) {
            FSets.LookBackFrom(offset);
        }
        IGoverningSets& governing = walk != nullptr ? FWalkSets : FSets;
        const TChromaFormatLookup lookup = [&governing](std::uint32_t id) {
            return GoverningChromaFormat(governing, id);
        };
        TFullDecoding full{FFull ? &governing : nullptr, FBits ? &FTree : nullptr};
        if (walk == nullptr) {
            // A unit on its own gets its picture's nodes; a whole-file walk would need a walk
            // of the model per slice, so its trees go without them.
            full.SliceLines = [this, offset](ITreeLines& tree, TTreeLine nal) {
                AddPictureLines(PictureLinesAt(FStream, offset), tree, nal);
            };
        }
        return DecodeNalUnit(data, n, FRbsp.get(), FReader, FTree, lookup, &FDetail, &full,
                             measured);
    }

    // The same for the walk's next unit, which the walk holds.
    bool Decode(const TNalUnitSpan& span, const TUnitCursor& walk) {
        FWalkSets.At(span.Offset);
        const bool decoded = Decode(span.Offset, span.Length, &walk);
        const std::uint32_t type = span.HasHeader ? NalUnitType(span.Header) : 0;
        if (decoded && (type == kNalSps || type == kNalPps)) {
            Learn(span, walk);
        }
        return decoded;
    }

    // Every line of the last unit decoded, whatever its expanded state, two spaces per
    // level after indent. A parameter set that ends early is also named on err.
    void Print(std::int64_t offset, std::size_t indent, TLineBuffer& lines,
               std::ostream& err) const {
        AppendTreeText(FTree, indent, FBits ? std::optional(offset) : std::nullopt, lines);
        if (FDetail.EndsEarly) {
            err << "NAL unit at offset " << NalOffsetText(offset) << " ends early: data ends after "
                << FDetail.PayloadBits << " bits\n";
        }
    }

    const TDumpTree& Tree() const { return FTree; }
    const TNalUnitDetail& Detail() const { return FDetail; }

  private:
    // A parameter set the walk passes goes to its store, for the units after it.
    void Learn(const TNalUnitSpan& span, const TUnitCursor& walk) {
        const std::int64_t payload = span.Offset + span.StartCodeLength + 1;
        const auto count = static_cast<std::int32_t>(
            std::min<std::int64_t>(span.PayloadEnd - payload, kParameterSetBytes));
        const std::uint8_t* bytes = nullptr;
        if (count <= 0 || walk.Held(payload, count, bytes) != count) {
            return;
        }
        std::int32_t written = 0;
        Remove_emulation_prevention_three_bytes(bytes, count, FRbsp.get(), written);
        FWalkSets.Learn(span.Header, FRbsp.get(), written, span.Offset);
    }

    FileStream& FStream;
    std::int64_t FFileSize;
    bool FFull;
    bool FBits;
    std::unique_ptr<std::uint8_t[]> FRead; // the byte before the unit, then the unit
    std::unique_ptr<std::uint8_t[]> FRbsp;
    TSetStore FSets;     // for a unit on its own, looked back from it
    TSetStore FWalkSets; // for the units of a walk from the file's start, told in file order
    TBitStream4 FReader;
    TDumpTree FTree;
    TNalUnitDetail FDetail;
};

// Text goes out as the listing's does: when the buffer is full and before the walk reads
// another block.
void PrintTrees(FileStream& stream, FileStream& detail, const TDumpArgs& args, std::ostream& out,
                std::ostream& err) {
    TUnitCursor reader(stream, 4 << 20, true);
    TTreeDumper dumper(detail, reader.FileSize(), args);
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    while (reader.Next(span)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        lines.Commit(ListingLine(span, lines.Room(kListingLineMaxSize)).size());
        if (!dumper.Decode(span, reader)) {
            throw EFileChanged(); // the walk found a unit there a moment ago
        }
        dumper.Print(span.Offset, 2, lines, err);
    }
    lines.Drain();
}

char* Put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

// A unit's fields before its type: the start code's text is hexadecimal digits, which need
// no escapes.
constexpr std::size_t kUnitFieldsMaxSize = 64 + 2 * 20 + kNalStartCodeTextMaxSize;

// The listing and every unit's deeper tree with its bits as one JSON document, written unit
// by unit so that memory stays the same whatever the file's size.
void PrintJson(FileStream& stream, FileStream& detail, const TDumpArgs& args, std::ostream& out) {
    TUnitCursor reader(stream, 4 << 20, true);
    TTreeDumper dumper(detail, reader.FileSize(), args);
    TLineBuffer lines(out);
    TJsonTreeWriter trees(lines);
    lines.Append("{\"file\":");
    AppendJsonString(args.Path, lines);
    lines.Append(",\"units\":[");
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    for (bool first = true; reader.Next(span); first = false) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        if (!dumper.Decode(span, reader)) {
            throw EFileChanged();
        }
        char* text = lines.Room(kUnitFieldsMaxSize);
        text = Put(text, first ? "\n{\"offset\":" : ",\n{\"offset\":");
        text = std::to_chars(text, text + 20, span.Offset).ptr;
        text = Put(text, ",\"length\":");
        text = std::to_chars(text, text + 20, span.Length).ptr;
        text = Put(text, ",\"start_code\":\"");
        text = WriteNalStartCodeText(text, span.StartCodeLength == 4, span.Header);
        lines.Commit(Put(text, "\",\"type\":"));
        AppendJsonString(span.HasHeader ? NalTypeName(span.Header) : kNoHeaderText, lines);
        if (dumper.Detail().EndsEarly) {
            text = Put(lines.Room(64), ",\"ends_early_after_bits\":");
            lines.Commit(std::to_chars(text, text + 20, dumper.Detail().PayloadBits).ptr);
        }
        lines.Append(",\"tree\":[");
        const auto& roots = dumper.Tree().Roots();
        for (std::size_t i = 0; i < roots.size(); ++i) {
            if (i > 0) {
                lines.Append(',');
            }
            trees.Line(*roots[i], span.Offset);
        }
        lines.Append("]}");
    }
    lines.Append("\n]}\n");
    lines.Drain();
}

// The work of one run after its file has been accepted; the exit status.
int Dump(const TDumpArgs& args, FileStream& stream, std::ostream& out, std::ostream& err) {
    // The listing walks the file with its own reads, ahead of the walk on another thread;
    // the trees read through a second handle.
    FileStream detail;
    const bool perUnit = args.Mode == TDumpMode::Trees || args.Mode == TDumpMode::Json;
    if (perUnit && !detail.Open(args.Path)) {
        err << detail.OpenError() << '\n';
        return 1;
    }
    switch (args.Mode) {
    case TDumpMode::Listing:
        if (args.Info) {
            PrintInfoListing(stream, out);
        } else {
            PrintListing(stream, out);
        }
        break;
    case TDumpMode::Find:
        PrintFindListing(stream, args.Info, args.Kind, out);
        break;
    case TDumpMode::Summary:
        // A progress line only for a person watching a terminal, and only where the end is
        // known.
        PrintSummary(
            stream, args.Path, out,
            &err == &std::cerr && isatty(STDERR_FILENO) != 0 && !stream.IsPipe() ? &err : nullptr);
        break;
    case TDumpMode::At: {
        TTreeDumper dumper(stream, stream.Size(), args);
        if (!dumper.Decode(args.Offset)) {
            err << "No NAL unit begins at offset " << args.Offset << '\n';
            return 2;
        }
        TLineBuffer lines(out);
        dumper.Print(args.Offset, 0, lines, err);
        lines.Drain();
        break;
    }
    case TDumpMode::Picture:
        // Overlays are drawn on the picture as the window shows it; without them the PNG
        // keeps every bit of the stream's samples.
        if (PngOutput(args) && args.Overlay.value_or(0) != 0) {
            return DumpPicturePng(stream, args.Offset, args.Output, *args.Overlay, out, err);
        }
        return DumpPicture(stream, args.Offset, args.Output, out, err);
    case TDumpMode::Macroblocks:
        return DumpMacroblocks(stream, args.Offset, out, err);
    case TDumpMode::Pictures:
        PrintPictures(stream, args.PicturesJson, args.DisplayOrder, out);
        break;
    case TDumpMode::Hrd:
        return PrintHrd(stream, args.HrdJson, args.WhatIf, out);
    case TDumpMode::Levels:
        return PrintLevels(stream, out);
    case TDumpMode::Check:
        return DumpCheck(stream, args.CheckJson, out);
    case TDumpMode::Trees:
    case TDumpMode::Json: {
        if (args.Mode == TDumpMode::Trees) {
            PrintTrees(stream, detail, args, out, err);
        } else {
            PrintJson(stream, detail, args, out);
        }
        break;
    }
    }
    return 0;
}

} // namespace

int RunDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<TDumpArgs> parsed;
    try {
        parsed = ParseArgs(args);
    } catch (const EArguments& e) {
        err << e.what() << '\n' << kUsage << '\n';
        return 2;
    }
    if (parsed->Help || parsed->Version) {
        try {
            Write(out, parsed->Help ? HelpText() : std::string(kVersionText) + '\n');
            Flush(out);
            return 0;
        } catch (const EOutput& e) {
            err << "cannot write output: " << e.what() << '\n';
            return 1;
        }
    }
    const TDebugLines debugLines(parsed->Debug ? &err : nullptr);
    const std::string& path = parsed->Path;
    FileStream stream;
    // "-" is standard input, read once forward: only the walks from the start can take it.
    const bool standardInput = path == "-";
    if (standardInput && parsed->ModeOption != nullptr && parsed->Mode != TDumpMode::Find &&
        parsed->Mode != TDumpMode::Summary && parsed->Mode != TDumpMode::Pictures &&
        parsed->Mode != TDumpMode::Hrd && parsed->Mode != TDumpMode::Levels &&
        parsed->Mode != TDumpMode::Check) {
        err << parsed->ModeOption << " needs a FILE: standard input cannot be read at any offset\n";
        return 2;
    }
    if (!(standardInput ? stream.OpenStandardInput() : stream.Open(path))) {
        err << stream.OpenError() << '\n';
        return 1;
    }
    std::string reason;
    if (!IsH264VideoES(stream, &reason)) {
        err << NotValidStreamText(path, reason) << '\n';
        return 1;
    }
    try {
        const int status = Dump(*parsed, stream, out, err);
        if (status != 0 && status != kNotConforming) {
            return status; // its one message said why
        }
        // What still waits in the stream's buffer can fail too; the status must say so.
        Flush(out);
        return status;
    } catch (const EOutput& e) {
        err << "cannot write output: " << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "Error reading " << path << ": " << e.what() << '\n';
    }
    return 1;
}
