#pragma once

#include "syntax/SyntaxTree.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One line of the command line's tree. Its text lies in the tree's own blocks, formatted
// once as it is added; an element line also knows where its label, value and meaning lie
// in that text, so that the JSON takes them without reading the line apart again.
struct TDumpLine {
    bool Element = false;
    const char* TextData = nullptr;
    std::uint32_t TextSize = 0;
    // An element line's parts: the label at the text's start, the value at ValueAt, and
    // the meaning just before the closing bracket that ends the text.
    std::uint32_t LabelSize = 0;
    std::uint32_t ValueAt = 0;
    std::uint32_t ValueSize = 0;
    std::uint32_t MeaningSize = 0;
    // Its bits, when told: the first one (-1 when none was told) and how many.
    std::int64_t FirstBit = -1;
    std::int64_t Bits = 0;
    // Its children in order, linked, so that adding one never allocates.
    TDumpLine* FirstChild = nullptr;
    TDumpLine* LastChild = nullptr;
    TDumpLine* Next = nullptr;

    std::string_view Text() const { return {TextData, TextSize}; }
    std::string_view Label() const { return {TextData, LabelSize}; }
    std::string_view Value() const { return {TextData + ValueAt, ValueSize}; }
    std::string_view Meaning() const {
        return {TextData + TextSize - (MeaningSize == 0 ? 0 : MeaningSize + 1), MeaningSize};
    }
};

// The tree quillet-dump writes: each line's text formatted once into large blocks that
// the tree keeps from one unit to the next, with its lines, so that a walk stops
// allocating once it has met its largest tree.
class TDumpTree final : public IElementLines, public ILineBits {
  public:
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) override;
    TTreeLine AddTextLine(TTreeLine parent, std::string_view text) override;
    void ExpandLine(TTreeLine) override {} // every line is written, whatever its state
    void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) override;

    // Top-level lines, first one first.
    const std::vector<TDumpLine*>& Roots() const { return FRoots; }

  private:
    TDumpLine* NewLine(TTreeLine parent) {
        if (FNextLine == FLinesEnd) {
            NextChunk();
        }
        TDumpLine& line = *FNextLine++;
        // What every kind of line sets is left to it.
        line.FirstBit = -1;
        line.Bits = 0;
        line.FirstChild = nullptr;
        line.LastChild = nullptr;
        line.Next = nullptr;
        if (parent != nullptr) {
            auto* above = reinterpret_cast<TDumpLine*>(parent);
            (above->LastChild != nullptr ? above->LastChild->Next : above->FirstChild) = &line;
            above->LastChild = &line;
        }
        return &line;
    }
    void NextChunk();
    // Room for size characters that stay where they are until the tree is cleared; taken
    // with FText += the size written.
    char* TextRoom(std::size_t size) {
        if (static_cast<std::size_t>(FTextEnd - FText) < size) {
            NextBlock(size);
        }
        return FText;
    }
    void NextBlock(std::size_t size);

    std::vector<TDumpLine*> FRoots;
    // Lines in chunks that never move: the first FChunk are in use up to FNextLine in the
    // last of them.
    static constexpr std::size_t kChunk = 256;
    std::vector<std::unique_ptr<TDumpLine[]>> FLines;
    std::size_t FChunk = 0;
    TDumpLine* FNextLine = nullptr;
    TDumpLine* FLinesEnd = nullptr;
    struct TBlock {
        std::unique_ptr<char[]> Data;
        std::size_t Size = 0;
    };
    std::vector<TBlock> FBlocks; // the first FBlock in use, up to FText in the last of them
    std::size_t FBlock = 0;
    char* FText = nullptr;
    char* FTextEnd = nullptr;
};
