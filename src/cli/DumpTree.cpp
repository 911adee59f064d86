#include "cli/DumpTree.h"

#include <algorithm>
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

} // namespace

void TDumpTree::ClearLines() {
    FRoots.clear();
    FUsed = 0;
    FBlock = 0;
    FBlockUsed = 0;
}

char* TDumpTree::TextRoom(std::size_t size) {
    while (FBlock < FBlocks.size() && FBlocks[FBlock].Size - FBlockUsed < size) {
        ++FBlock; // a line's text never straddles two blocks
        FBlockUsed = 0;
    }
    if (FBlock == FBlocks.size()) {
        const std::size_t blockSize = std::max(kBlockSize, size);
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
    char* const text = TextRoom(ElementLineSize(element));
    const auto size = static_cast<std::size_t>(WriteElementLine(text, element) - text);
    FBlockUsed += size;
    const std::size_t value = std::max(element.Label.size(), element.LabelWidth) + 3;
    added->Element = true;
    added->TextData = text;
    added->TextSize = static_cast<std::uint32_t>(size);
    added->LabelSize = static_cast<std::uint32_t>(element.Label.size());
    added->ValueAt = static_cast<std::uint32_t>(value);
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
