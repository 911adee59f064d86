#include "syntax/nal_unit.h"

#include "stream/H264Utils.h"
#include "syntax/AccessUnit.h"
#include "syntax/Checks.h"
#include "syntax/Meanings.h"
#include "syntax/SyntaxTree.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/sei_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"
#include "syntax/slice_header.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// The structure line shown under "NAL" for each nal_unit_type; null for none. Parameter
// sets add their own.
constexpr std::array<const char*, 32> kStructureLines = {
    nullptr,
    "slice_layer_without_partitioning_rbsp( )",
    "slice_data_partition_a_layer_rbsp( )",
    "slice_data_partition_b_layer_rbsp( )",
    "slice_data_partition_c_layer_rbsp( )",
    "slice_layer_without_partitioning_rbsp( )",
    "sei_rbsp( )",
    nullptr,
    nullptr,
    "access_unit_delimiter_rbsp( )",
    "end_of_seq_rbsp( )",
    "end_of_stream_rbsp( )",
    "filler_data_rbsp( )",
    "seq_parameter_set_extension_rbsp( )",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "slice_layer_without_partitioning_rbsp( )",
    "slice_layer_in_scalable_extension_rbsp( )",
    "slice_layer_in_scalable_extension_rbsp( )",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Passes on the lines of one parameter set tree up to the last one whose data was read in
// full: the structure's own line under "NAL", then the first lines lines below it, and
// nothing after them.
class TLinesReadInFull final : public IElementLines {
  public:
    TLinesReadInFull(ITreeLines& tree, TTreeLine nal, std::int32_t lines)
        : FTree(tree), FElements(tree.ElementSide()), FNal(nal), FLeft(lines) {}

    void ClearLines() override { FTree.ClearLines(); }
    TTreeLine AddRootLine(const std::string& text) override { return FTree.AddRootLine(text); }
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override {
        return Passes(parent) ? FTree.AddChildLine(parent, text) : nullptr;
    }
    TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) override {
        return Passes(parent) ? ::AddElementLine(FTree, FElements, parent, element) : nullptr;
    }
    void ExpandLine(TTreeLine line) override {
        if (line != nullptr) {
            FTree.ExpandLine(line);
        }
    }

  private:
    bool Passes(TTreeLine parent) {
        if (parent == FNal) {
            return true;
        }
        if (parent == nullptr || FLeft <= 0) {
            return false; // and so are the lines a routine hangs under this one
        }
        --FLeft;
        return true;
    }

    ITreeLines& FTree;
    IElementLines* FElements;
    TTreeLine FNal;
    std::int32_t FLeft;
};

// Ends the lines of enumerated elements with their meaning in square brackets, for the
// deeper decoding; the lines pass otherwise unchanged. Remembers the SPS structure line so
// that the summary line can follow its elements.
class TMeaningLines final : public IElementLines {
  public:
    explicit TMeaningLines(ITreeLines& tree) : FTree(tree), FElements(tree.ElementSide()) {}

    void ClearLines() override { FTree.ClearLines(); }
    TTreeLine AddRootLine(const std::string& text) override { return FTree.AddRootLine(text); }
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override {
        // A line given as text that reads as an element line gets its meaning too.
        const std::size_t separator = ElementSeparator(text);
        const std::string_view label = separator == std::string::npos
                                           ? std::string_view()
                                           : std::string_view(text).substr(0, text.find(' '));
        const std::string_view meaning =
            ElementTellsMeaning(label)
                ? Meaning(label, text.c_str() + separator + 3, text.c_str() + text.size())
                : std::string_view();
        TTreeLine line = nullptr;
        if (meaning.empty()) {
            line = FTree.AddChildLine(parent, text);
        } else {
            FWithMeaning.assign(text);
            FWithMeaning += " [";
            FWithMeaning += meaning;
            FWithMeaning += ']';
            line = FTree.AddChildLine(parent, FWithMeaning);
        }
        if (std::string_view(text) == kSpsText) {
            SpsLine = line;
        }
        return line;
    }
    TTreeLine AddTextLine(TTreeLine parent, std::string_view text) override {
        // A text with no colon reads as no element line: it passes as it is.
        if (text.find(':') == std::string_view::npos && text != kSpsText) {
            return ::AddTextLine(FTree, FElements, parent, text);
        }
        return IElementLines::AddTextLine(parent, text);
    }
    TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) override {
        if (element.Value.size() >= sizeof FValue || !ElementTellsMeaning(element.Label)) {
            return ::AddElementLine(FTree, FElements, parent, element);
        }
        // The value read as the text form reads it, from a string that ends there.
        std::copy(element.Value.begin(), element.Value.end(), FValue);
        FValue[element.Value.size()] = '\0';
        const std::string_view meaning =
            Meaning(element.Label, FValue, FValue + element.Value.size());
        if (meaning.empty()) {
            return ::AddElementLine(FTree, FElements, parent, element);
        }
        TElementLine withMeaning = element;
        withMeaning.Meaning = meaning;
        return ::AddElementLine(FTree, FElements, parent, withMeaning);
    }
    void ExpandLine(TTreeLine line) override { FTree.ExpandLine(line); }

    TTreeLine SpsLine = nullptr;

  private:
    static constexpr std::string_view kSpsText = "seq_parameter_set_rbsp( )";

    // The meaning of an element line with label whose value's text begins at digits (the
    // line's text runs to end, which ends a C string). The value is read as strtoul reads
    // it; the usual case, digits, without it. The label is one that tells a meaning.
    std::string_view Meaning(std::string_view label, const char* digits, const char* textEnd) {
        const char* end = nullptr;
        unsigned long value = 0;
        if (*digits >= '0' && *digits <= '9') {
            const auto read = std::from_chars(digits, textEnd, value);
            end = read.ptr;
            if (read.ec == std::errc::result_out_of_range) {
                value = ULONG_MAX;
            }
        } else {
            char* stop = nullptr;
            value = std::strtoul(digits, &stop, 10);
            end = stop;
        }
        if (end == digits || value > 0xFFFFFFFFul) {
            return {};
        }
        const auto number = static_cast<std::uint32_t>(value);
        if (label == "profile_idc") {
            FContext.profile_idc = number;
        } else if (label == "constraint_set3_flag") {
            FContext.constraint_set3_flag = number;
        }
        return ElementMeaning(label, number, FContext, FMeaning);
    }

    ITreeLines& FTree;
    IElementLines* FElements;
    TMeaningContext FContext;
    std::string FWithMeaning; // kept, so that its room serves every line
    std::string FMeaning;     // the same for a meaning that is not a table's text
    char FValue[32] = {};
};

// Tells each line of a parameter set's tree, as it is added, where its bits lie: the
// parse logged one span per line in the same order. Positions count from the header
// byte's first bit.
class TSpanLines final : public IElementLines {
  public:
    TSpanLines(ITreeLines& tree, TTreeLine nal, const std::vector<TBitSpan>& log, ILineBits& bits)
        : FTree(tree), FElements(tree.ElementSide()), FNal(nal), FLog(log), FBits(bits) {}

    void ClearLines() override { FTree.ClearLines(); }
    TTreeLine AddRootLine(const std::string& text) override { return FTree.AddRootLine(text); }
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override {
        return Told(parent, FTree.AddChildLine(parent, text));
    }
    TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) override {
        return Told(parent, ::AddElementLine(FTree, FElements, parent, element));
    }
    void ExpandLine(TTreeLine line) override { FTree.ExpandLine(line); }

  private:
    TTreeLine Told(TTreeLine parent, TTreeLine line) {
        if (line != nullptr && parent != FNal && FNext < FLog.size()) {
            const TBitSpan span = FLog[FNext++];
            if (span.First >= 0) {
                FBits.LineBits(line, 8 + span.First, span.Bits);
            }
        }
        return line;
    }

    ITreeLines& FTree;
    IElementLines* FElements;
    TTreeLine FNal;
    const std::vector<TBitSpan>& FLog;
    ILineBits& FBits;
    std::size_t FNext = 0;
};

// Maps positions in the unit without emulation-prevention bytes (from the header byte's
// first bit) to the unit as stored (from its start code's first bit).
class TStoredBits final : public ILineBits {
  public:
    TStoredBits(const std::uint8_t* unit, std::int32_t length, std::int32_t startCode,
                ILineBits& out)
        : FMap(unit, length), FStartCode(startCode), FOut(out) {}
    void LineBits(TTreeLine line, std::int64_t rbspBit, std::int64_t bits) override {
        const std::int64_t from = 8 * static_cast<std::int64_t>(FStartCode) + rbspBit;
        const std::int64_t first = FMap.StoredBit(from);
        const std::int64_t last = bits > 0 ? FMap.StoredBit(from + bits - 1) : first - 1;
        FOut.LineBits(line, first, last - first + 1);
    }

  private:
    TStoredBitMap FMap;
    std::int32_t FStartCode;
    ILineBits& FOut;
};

// Where a parameter set's parse logs the bits of its lines, when they are asked for.
struct TParameterSetSpans {
    ILineBits* Bits = nullptr;
    std::vector<TBitSpan> Log;

    void Begin(TBitStream4& reader) {
        Log.clear();
        reader.SetSpanLog(Bits != nullptr ? &Log : nullptr);
    }
};

// Runs a parameter set's tree routine (show) after its parse. A payload that held every
// element gets the whole tree; one that ran out gets the lines read in full, and false.
template <class Show>
bool ShowParsed(TBitStream4& reader, ITreeLines& tree, TTreeLine nal,
                const TParameterSetSpans& spans, Show show) {
    reader.SetSpanLog(nullptr);
    const bool complete = reader.Error() == 0;
    TLinesReadInFull readInFull(tree, nal, reader.Marked());
    ITreeLines& shown = complete ? tree : readInFull;
    if (spans.Bits != nullptr) {
        TSpanLines withSpans(shown, nal, spans.Log, *spans.Bits);
        show(withSpans);
    } else {
        show(shown);
    }
    return complete;
}

// With meanings, a set read in full ends with the line of its picture size and rate.
// The problems the unit's own checks find (those that need no other unit), shown as lines
// under "NAL" after its structure: words first, for a screen reader, then the rule and its
// clause in brackets as meanings are shown. Fixed room: a unit this broken shows the first.
class TUnitMarks final : public IProblems {
  public:
    void Problem(const TProblem& problem) override {
        if (FCount < kRoom) {
            FRules[FCount++] = problem.Rule;
        }
    }
    void Show(ITreeLines& tree, TTreeLine nal) const {
        for (int i = 0; i < FCount; ++i) {
            const TRule& rule = *FRules[i];
            tree.AddChildLine(nal, std::string("! ") + SeverityName(rule.Severity) + ": " +
                                       rule.Reason + " [" + rule.Id + ", " + rule.Clause + "]");
        }
    }

  private:
    static constexpr int kRoom = 16;
    const TRule* FRules[kRoom] = {};
    int FCount = 0;
};

// A parameter set's own checks. The tree reads it with the zeros after the unit, which a
// parse cut short may have taken for elements: one that went past the unit's last byte that
// is not zero ends early, as the stream check, which reads without them, finds.
template <class Set>
void CheckParameterSet(const Set& set, const std::uint8_t* payload, std::int32_t checkedSize,
                       TUnitProblems& problems) {
    if (set.trailing_bits_at > 8 * static_cast<std::int64_t>(checkedSize)) {
        ReportEndsEarly(problems);
        return;
    }
    if constexpr (std::is_same_v<Set, TSeqParameterSet>) {
        CheckSps(set, problems);
    } else {
        CheckPps(set, nullptr, problems);
    }
    CheckTrailingBits(payload, checkedSize, set.trailing_bits_at, problems);
}

bool DecodeSeqParameterSet(const std::uint8_t* payload, std::int32_t size, TBitStream4& reader,
                           ITreeLines& tree, TTreeLine nal, TParameterSetSpans& spans,
                           TMeaningLines* meanings, std::int32_t checkedSize,
                           TUnitProblems* problems) {
    reader.SetData(payload, size);
    spans.Begin(reader);
    TSeqParameterSet sps{};
    Parse_seq_parameter_set_rbsp(reader, sps);
    const bool complete = ShowParsed(reader, tree, nal, spans, [&](ITreeLines& lines) {
        Update_TreeView_seq_parameter_set_rbsp(lines, nal, sps);
    });
    if (complete && problems != nullptr) {
        CheckParameterSet(sps, payload, checkedSize, *problems);
    }
    if (complete && meanings != nullptr && meanings->SpsLine != nullptr) {
        tree.AddChildLine(meanings->SpsLine, SequenceSummaryLine(sps));
    }
    return complete;
}

bool DecodePicParameterSet(const std::uint8_t* payload, std::int32_t size, TBitStream4& reader,
                           ITreeLines& tree, TTreeLine nal, const TChromaFormatLookup& lookup,
                           TParameterSetSpans& spans, std::int32_t checkedSize,
                           TUnitProblems* problems) {
    reader.SetData(payload, size);
    spans.Begin(reader);
    TPicParameterSet pps{};
    Parse_pic_parameter_set_rbsp(reader, pps);
    std::uint32_t chroma_format_idc = 1;
    // Only the 8x8 list flags depend on the sequence parameter set, and they come after
    // every element the first parse needs to tell whether they are there.
    if (pps.transform_8x8_mode_flag != 0 && pps.pic_scaling_matrix_present_flag != 0 && lookup) {
        const std::optional<std::uint32_t> found = lookup(pps.seq_parameter_set_id);
        if (found && *found == 3) {
            chroma_format_idc = *found;
            pps = TPicParameterSet{};
            reader.SetData(payload, size);
            spans.Begin(reader);
            Parse_pic_parameter_set_rbsp(reader, pps, chroma_format_idc);
        }
    }
    const bool complete = ShowParsed(reader, tree, nal, spans, [&](ITreeLines& lines) {
        Update_TreeView_pic_parameter_set_rbsp(lines, nal, pps, chroma_format_idc);
    });
    if (complete && problems != nullptr) {
        CheckParameterSet(pps, payload, checkedSize, *problems);
    }
    return complete;
}

// The slice header's lines under structure; false when the payload ended before its last
// element.
bool DecodeSliceHeader(const std::uint8_t* payload, std::int32_t size, std::uint8_t header,
                       TBitStream4& reader, TFieldContext& context, TTreeLine structure,
                       IGoverningSets& sets) {
    if (reader.SetData(payload, size) != kStatusOk) {
        return false;
    }
    TFieldLines lines(context, reader, structure, 8);
    TSliceHeader slice;
    slice.nal_unit_type = NalUnitType(header);
    slice.nal_ref_idc = NalRefIdc(header);
    Decode_slice_header(lines, slice, sets);
    return reader.Error() == 0;
}

} // namespace

std::string EndsEarlyLine(std::int64_t payloadBits) {
    return "NAL unit ends early: data ends after " + std::to_string(payloadBits) + " bits";
}

namespace {

// What one decoding of a unit came to; Cut: a slice header ran past the bytes freed of
// emulation prevention, which were not the whole unit, so it is decoded again whole.
enum class TDecoded { Nothing, Shown, Cut };

TDecoded DecodeUnit(const std::uint8_t* data, std::int32_t n, std::uint8_t* rbsp,
                    TBitStream4& reader, ITreeLines& shownTree, const TChromaFormatLookup& lookup,
                    TNalUnitDetail* detail, const TFullDecoding* full, bool whole,
                    std::int32_t measured) {
    // The deeper decoding also tells what enumerated values mean.
    std::optional<TMeaningLines> meanings;
    if (full != nullptr && full->Sets != nullptr) {
        meanings.emplace(shownTree);
    }
    ITreeLines& tree = meanings ? static_cast<ITreeLines&>(*meanings) : shownTree;
    // Looked up once for the unit's lines.
    IElementLines* const elements = meanings ? &*meanings : shownTree.ElementSide();
    if (detail != nullptr) {
        *detail = TNalUnitDetail{};
    }
    if (data == nullptr || n <= 0) {
        return TDecoded::Nothing;
    }
    // Only a length within the bytes, of a unit that a start code begins, can be one
    // measured in them.
    const int codeLength = StartCodeLength(data, n);
    const bool known = codeLength != 0 && measured >= codeLength && measured <= n;
    std::int32_t length = measured;
    if (!known && !GetNalUnitLength(data, n, length)) {
        tree.ClearLines();
        return TDecoded::Nothing;
    }
    // A slice shows its header at most, which lies in its first bytes: the rest need not
    // lose its emulation prevention unless the header goes on past them.
    const bool deep = full != nullptr && full->Sets != nullptr;
    std::int32_t freed = length;
    if (!whole && length > 4) {
        const std::int32_t headerAt = data[2] != 0 ? 3 : 4;
        const std::uint32_t type = NalUnitType(data[headerAt]);
        if (type == kNalNonIdrSlice || type == kNalIdrSlice) {
            freed = std::min(length, headerAt + 1 + (deep ? kSliceHeaderBytes : 0));
        }
    }
    std::int32_t written = 0;
    Remove_emulation_prevention_three_bytes(data, freed, rbsp, written);
    const std::int32_t startCode = rbsp[2] != 0 ? 3 : 4;
    if (written <= startCode) {
        // The start code alone: the byte after it, if any, begins the next one.
        tree.ClearLines();
        const TTreeLine nal = tree.AddRootLine("NAL");
        tree.AddChildLine(nal, kNoHeaderText);
        tree.ExpandLine(nal);
        return TDecoded::Shown;
    }
    const std::uint8_t header = rbsp[startCode];
    const std::uint8_t* payload = rbsp + startCode + 1;
    const std::int32_t payloadSize = written - startCode - 1;

    std::optional<TStoredBits> stored;
    if (full != nullptr && full->Bits != nullptr) {
        stored.emplace(data, length, startCode, *full->Bits);
    }
    ILineBits* const bits = stored ? &*stored : nullptr;
    const auto at = [bits](TTreeLine line, std::int64_t rbspBit, std::int64_t width) {
        if (bits != nullptr && line != nullptr) {
            bits->LineBits(line, rbspBit, width);
        }
    };

    tree.ClearLines();
    const TTreeLine nal = tree.AddRootLine("NAL");
    TElementLines headerLines(tree, elements, nal, kNalHeaderLabelWidth);
    at(headerLines.Unsigned("forbidden_zero_bit", ForbiddenZeroBit(header), 1), 0, 1);
    at(headerLines.Unsigned("nal_ref_idc", NalRefIdc(header), 2), 1, 2);
    at(headerLines.Unsigned("nal_unit_type", NalUnitType(header), 5), 3, 5);

    const std::uint32_t type = NalUnitType(header);
    // The unit's own checks, on the unit without the zeros after it; its bytes after the
    // header byte only where they were all read and freed of emulation prevention.
    TUnitMarks marks;
    TUnitProblems unitProblems(marks, 0, header);
    TUnitProblems* const problems = full != nullptr && full->Problems ? &unitProblems : nullptr;
    std::int32_t storedEnd = length;
    while (storedEnd > startCode + 1 && data[storedEnd - 1] == 0) {
        --storedEnd;
    }
    const bool allRead = problems != nullptr && freed == length && length < n;
    const std::int32_t checkedSize = payloadSize - (length - storedEnd);
    if (problems != nullptr) {
        CheckNalHeader(header, *problems);
    }
    if (allRead) {
        CheckPayloadBytes(data + startCode + 1, storedEnd - startCode - 1, *problems);
    }
    TTreeLine structure = nullptr;
    if (type == kNalSps || type == kNalPps) {
        // An empty payload cannot be bound to the reader: it shows no structure at all.
        bool complete = false;
        TParameterSetSpans spans{bits, {}};
        if (payloadSize > 0) {
            complete =
                type == kNalSps
                    ? DecodeSeqParameterSet(payload, payloadSize, reader, tree, nal, spans,
                                            meanings ? &*meanings : nullptr, checkedSize, problems)
                    : DecodePicParameterSet(payload, payloadSize, reader, tree, nal, lookup, spans,
                                            checkedSize, problems);
        }
        if (!complete) {
            const std::int64_t payloadBits = 8 * static_cast<std::int64_t>(payloadSize);
            tree.AddChildLine(nal, EndsEarlyLine(payloadBits));
            if (detail != nullptr) {
                *detail = TNalUnitDetail{true, payloadBits};
            }
        }
    } else if (kStructureLines[type] != nullptr) {
        // Made once as strings, so that a unit's structure line allocates nothing.
        static const std::array<std::string, 32> kStructureTexts = [] {
            std::array<std::string, 32> texts;
            for (std::size_t i = 0; i < texts.size(); ++i) {
                texts[i] = kStructureLines[i] != nullptr ? kStructureLines[i] : "";
            }
            return texts;
        }();
        structure = tree.AddChildLine(nal, kStructureTexts[type]);
        // A delimiter cut off after its header byte shows no primary_pic_type.
        if (type == kNalDelimiter && payloadSize > 0) {
            at(TElementLines(tree, elements, structure, kNalHeaderLabelWidth)
                   .Unsigned("primary_pic_type", static_cast<std::uint32_t>(payload[0] >> 5), 3),
               8, 3);
        }
        if (full != nullptr && full->Sets != nullptr) {
            TFieldContext context{tree, bits, nullptr, elements};
            if (type == kNalSei) {
                Decode_sei_rbsp(context, structure, payload, payloadSize, *full->Sets);
            } else if ((type == kNalNonIdrSlice || type == kNalIdrSlice) &&
                       !DecodeSliceHeader(payload, payloadSize, header, reader, context, structure,
                                          *full->Sets)) {
                if (freed < length) {
                    return TDecoded::Cut;
                }
                const std::int64_t payloadBits = 8 * static_cast<std::int64_t>(payloadSize);
                tree.AddChildLine(nal, EndsEarlyLine(payloadBits));
                if (detail != nullptr) {
                    *detail = TNalUnitDetail{true, payloadBits};
                }
            } else if ((type == kNalNonIdrSlice || type == kNalIdrSlice) && full->SliceLines) {
                full->SliceLines(tree, nal);
            }
        }
    }
    if (allRead) {
        CheckUnitPayload(type, payload, checkedSize, data + startCode + 1,
                         storedEnd - startCode - 1, *problems);
    }
    marks.Show(tree, nal);
    tree.ExpandLine(nal);
    if (structure != nullptr) {
        tree.ExpandLine(structure);
    }
    return TDecoded::Shown;
}

} // namespace

bool DecodeNalUnit(const std::uint8_t* data, std::int32_t n, std::uint8_t* rbsp,
                   TBitStream4& reader, ITreeLines& tree, const TChromaFormatLookup& lookup,
                   TNalUnitDetail* detail, const TFullDecoding* full, std::int32_t measured) {
    TDecoded decoded =
        DecodeUnit(data, n, rbsp, reader, tree, lookup, detail, full, false, measured);
    if (decoded == TDecoded::Cut) {
        decoded = DecodeUnit(data, n, rbsp, reader, tree, lookup, detail, full, true, measured);
    }
    return decoded == TDecoded::Shown;
}
