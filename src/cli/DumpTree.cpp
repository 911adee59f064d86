#include "cli/DumpTree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace {

TDumpLine* Node(TTreeLine handle) {
    return reinterpret_cast<TDumpLine*>(handle);
}
TTreeLine Handle(TDumpLine* line) {
    return reinterpret_cast<TTreeLine>(line);
}

constexpr std::size_t kBlockSize = 1 << 16;

// The width annotations of the usual widths, each in a whole slot that is copied at once.
struct TAnnotation {
    char Text[16] = {};
    std::size_t Size = 0;
};
constexpr std::size_t kAnnotations = 64;
const std::array<TAnnotation, kAnnotations> kAnnotationTexts = [] {
    std::array<TAnnotation, kAnnotations> texts{};
    for (std::size_t bits = 0; bits < kAnnotations; ++bits) {
        const std::string text = WidthAnnotation(static_cast<int>(bits));
        std::memcpy(texts[bits].Text, text.data(), text.size());
        texts[bits].Size = text.size();
    }
    return texts;
}();

char* Copy(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

} // namespace

void TDumpTree::ClearLines() {
    FRoots.clear();
    FUsed = 0;
    FBlock = 0;
    FBlockUsed = 0;
}

char* TDumpTree::TextRoom(std::size_t size) {
    const std::size_t room = size + kBlanksMaxSize;
    while (FBlock < FBlocks.size() && FBlocks[FBlock].Size - FBlockUsed < room) {
        ++FBlock; // a line's text never straddles two blocks
        FBlockUsed = 0;
    }
    if (FBlock == FBlocks.size()) {
        const std::size_t blockSize = std::max(kBlockSize, room);
        FBlocks.push_back({std::make_unique<char[]>(blockSize), blockSize});
        FBlockUsed = 0;
    }
    return FBlocks[FBlock].Data.get() + FBlockUsed;
}

TDumpLine* TDumpTree::NewLine(TTreeLine parent) {
    constexpr std::size_t kChunk = std::size_t{1} << kChunkShift;
    if (FUsed == FLines.size() * kChunk) {
        FLines.push_back(std::make_unique<TDumpLine[]>(kChunk));
    }
    TDumpLine& line = FLines[FUsed >> kChunkShift][FUsed & (kChunk - 1)];
    ++FUsed;
    // What every kind of line sets is left to it.
    line.FirstBit = -1;
    line.Bits = 0;
    line.FirstChild = nullptr;
    line.LastChild = nullptr;
    line.Next = nullptr;
    if (parent != nullptr) {
        TDumpLine* above = Node(parent);
        (above->LastChild != nullptr ? above->LastChild->Next : above->FirstChild) = &line;
        above->LastChild = &line;
    }
    return &line;
}

namespace {

void SetText(TDumpLine& line, char* room, std::string_view text) {
    std::memcpy(room, text.data(), text.size());
    line.Element = false;
    line.TextData = room;
    line.TextSize = static_cast<std::uint32_t>(text.size());
    line.LabelSize = 0;
    line.ValueAt = 0;
    line.ValueSize = 0;
    line.MeaningSize = 0;
}

} // namespace

TTreeLine TDumpTree::AddRootLine(const std::string& text) {
    TDumpLine* added = NewLine(nullptr);
    SetText(*added, TextRoom(text.size()), text);
    FBlockUsed += text.size();
    FRoots.insert(FRoots.begin(), added);
    return Handle(added);
}

TTreeLine TDumpTree::AddChildLine(TTreeLine parent, const std::string& text) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddChildLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    SetText(*added, TextRoom(text.size()), text);
    FBlockUsed += text.size();
    return Handle(added);
}

TTreeLine TDumpTree::AddElementLine(TTreeLine parent, const TElementLine& element) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddElementLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    const std::size_t padding =
        element.LabelWidth > element.Label.size() ? element.LabelWidth - element.Label.size() : 0;
    const bool usualWidth = element.AnnotationBits >= 0 &&
                            static_cast<std::size_t>(element.AnnotationBits) < kAnnotations;
    const std::string annotation =
        usualWidth ? std::string() : WidthAnnotation(element.AnnotationBits);
    const std::size_t most = element.Label.size() + padding + 3 + element.Value.size() +
                             sizeof(TAnnotation::Text) + annotation.size() +
                             element.Meaning.size() + 3;
    char* const text = TextRoom(most);
    char* out = Copy(text, element.Label);
    // The room past the end takes whole runs of blanks; a label far short of its width
    // (none the readers give) is padded run by run.
    for (std::size_t left = padding; left > 0;) {
        const std::size_t run = std::min(left, kBlanksMaxSize);
        out = WriteBlanks(out, run);
        left -= run;
    }
    out = Copy(out, " : ");
    const char* value = out;
    out = Copy(out, element.Value);
    if (usualWidth) {
        const TAnnotation& fixed =
            kAnnotationTexts[static_cast<std::size_t>(element.AnnotationBits)];
        std::memcpy(out, fixed.Text, sizeof fixed.Text);
        out += fixed.Size;
    } else {
        out = Copy(out, annotation);
    }
    if (!element.Meaning.empty()) {
        out = Copy(out, " [");
        out = Copy(out, element.Meaning);
        *out++ = ']';
    }
    const auto size = static_cast<std::size_t>(out - text);
    FBlockUsed += size;
    added->Element = true;
    added->TextData = text;
    added->TextSize = static_cast<std::uint32_t>(size);
    added->LabelSize = static_cast<std::uint32_t>(element.Label.size());
    added->ValueAt = static_cast<std::uint32_t>(value - text);
    added->ValueSize = static_cast<std::uint32_t>(element.Value.size());
    added->MeaningSize = static_cast<std::uint32_t>(element.Meaning.size());
    return Handle(added);
}

void TDumpTree::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (TDumpLine* node = Node(line)) {
        node->FirstBit = firstBit;
        node->Bits = bits;
    }
}
