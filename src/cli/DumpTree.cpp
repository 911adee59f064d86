#include "cli/DumpTree.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

TTreeLine Handle(TDumpLine* line) {
    return reinterpret_cast<TTreeLine>(line);
}

constexpr std::size_t kBlockSize = 1 << 16;

} // namespace

void TDumpTree::ClearLines() {
    FRoots.clear();
    FChunk = 0;
    FNextLine = nullptr;
    FLinesEnd = nullptr;
    FBlock = 0;
    FText = nullptr;
    FTextEnd = nullptr;
}

void TDumpTree::NextChunk() {
    if (FChunk == FLines.size()) {
        FLines.push_back(std::make_unique<TDumpLine[]>(kChunk));
    }
    FNextLine = FLines[FChunk++].get();
    FLinesEnd = FNextLine + kChunk;
}

void TDumpTree::NextBlock(std::size_t size) {
    // A line's text never straddles two blocks.
    while (FBlock < FBlocks.size() && FBlocks[FBlock].Size < size) {
        ++FBlock;
    }
    if (FBlock == FBlocks.size()) {
        const std::size_t blockSize = std::max(kBlockSize, size);
        FBlocks.push_back({std::make_unique<char[]>(blockSize), blockSize});
    }
    FText = FBlocks[FBlock].Data.get();
    FTextEnd = FText + FBlocks[FBlock].Size;
    ++FBlock;
}

namespace {

void SetText(TDumpLine& line, char* room, std::string_view text) {
    CopyText(room, text);
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
    FText += text.size();
    FRoots.insert(FRoots.begin(), added);
    return Handle(added);
}

TTreeLine TDumpTree::AddChildLine(TTreeLine parent, const std::string& text) {
    return AddTextLine(parent, text);
}

TTreeLine TDumpTree::AddTextLine(TTreeLine parent, std::string_view text) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddChildLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    SetText(*added, TextRoom(text.size()), text);
    FText += text.size();
    return Handle(added);
}

TTreeLine TDumpTree::AddElementLine(TTreeLine parent, const TElementLine& element) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddElementLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    char* const text = TextRoom(ElementLineRoom(element));
    FText = WriteElementLine(text, element);
    const std::size_t value = std::max(element.Label.size(), element.LabelWidth) + 3;
    added->Element = true;
    added->TextData = text;
    added->TextSize = static_cast<std::uint32_t>(FText - text);
    added->LabelSize = static_cast<std::uint32_t>(element.Label.size());
    added->ValueAt = static_cast<std::uint32_t>(value);
    added->ValueSize = static_cast<std::uint32_t>(element.Value.size());
    added->MeaningSize = static_cast<std::uint32_t>(element.Meaning.size());
    return Handle(added);
}

void TDumpTree::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (line != nullptr) {
        auto* node = reinterpret_cast<TDumpLine*>(line);
        node->FirstBit = firstBit;
        node->Bits = bits;
    }
}
