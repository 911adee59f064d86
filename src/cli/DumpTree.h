#pragma once

#include "syntax/SyntaxTree.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One line of the command line's tree: a text line, or an element line kept as its parts
// (Text then holds the label, the value and the meaning one after the other).
struct TDumpLine {
    bool Element = false;
    std::string Text;
    std::size_t LabelSize = 0;
    std::size_t ValueSize = 0;
    std::size_t LabelWidth = 0;
    int AnnotationBits = kVariableBits;
    // Its bits, when told: the first one (-1 when none was told) and how many.
    std::int64_t FirstBit = -1;
    std::int64_t Bits = 0;
    std::vector<TDumpLine*> Children;

    TElementLine Parts() const {
        const std::string_view all = Text;
        return {all.substr(0, LabelSize), LabelWidth, all.substr(LabelSize, ValueSize),
                AnnotationBits, all.substr(std::min(all.size(), LabelSize + ValueSize))};
    }
};

// The tree quillet-dump writes: element lines stay as their parts, so that the text and
// the JSON are written from them without formatting a line to read it apart again. Lines
// cleared are kept for the next tree with their room, so that a walk stops allocating
// once it has met its largest tree.
class TDumpTree final : public IElementLines, public ILineBits {
  public:
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) override;
    void ExpandLine(TTreeLine) override {} // every line is written, whatever its state
    void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) override;

    // Top-level lines, first one first.
    const std::vector<TDumpLine*>& Roots() const { return FRoots; }

  private:
    TDumpLine* NewLine(TTreeLine parent);

    std::vector<TDumpLine*> FRoots;
    std::vector<std::unique_ptr<TDumpLine>> FLines; // the first FUsed are in the tree
    std::size_t FUsed = 0;
};
