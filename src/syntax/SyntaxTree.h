#pragma once

#include "toolkit/Toolkit.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Where the bits of tree lines lie: told the first bit and the width of each line that
// shows read data.
class ILineBits {
  public:
    virtual ~ILineBits() = default;
    virtual void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) = 0;
};

// One line of the in-memory syntax tree; the tree owns it.
struct TSyntaxLine {
    std::string Text;
    bool Expanded = false;
    // Its bits, when told: the first one (-1 when none was told) and how many.
    std::int64_t FirstBit = -1;
    std::int64_t Bits = 0;
    TSyntaxLine* Parent = nullptr;
    std::vector<TSyntaxLine*> Children;
};

// The syntax tree held in memory: what the command line prints and what the tests
// inspect. The window's tree widget realises the same four operations. Lines cleared are
// kept for the next tree with their text's room, so that a walk that decodes unit after
// unit stops allocating once it has met its largest tree.
class TSyntaxTree : public ITreeLines, public ILineBits {
  public:
    void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) override;
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    void ExpandLine(TTreeLine line) override;

    // Top-level lines, first one first.
    const std::vector<TSyntaxLine*>& Roots() const { return FRoots; }
    // Every line in display order (a line before its children), with its depth (0 for
    // a top-level line), whatever the expanded state.
    void Walk(const std::function<void(const TSyntaxLine& line, int depth)>& visit) const;

    static const TSyntaxLine* Line(TTreeLine handle) {
        return reinterpret_cast<const TSyntaxLine*>(handle);
    }

  private:
    TSyntaxLine* NewLine(const std::string& text, TSyntaxLine* parent);

    std::vector<TSyntaxLine*> FRoots;
    std::vector<std::unique_ptr<TSyntaxLine>> FLines; // the first FUsed are in the tree
    std::size_t FUsed = 0;
};

// Label widths of the element lines.
inline constexpr std::size_t kParameterSetLabelWidth = 39;
inline constexpr std::size_t kNalHeaderLabelWidth = 36;

// The width annotation: " (1 bit)", " (N bits)", or " (v bits)" for kVariableBits.
inline constexpr int kVariableBits = 0;
std::string WidthAnnotation(int bits);

// "name[index]".
std::string IndexedLabel(std::string_view name, std::int64_t index);

// An element line: the label padded to the label width, " : ", the value, the annotation;
// the second form writes it over line, whose room a caller keeps from line to line.
std::string ElementLine(std::string_view label, std::size_t labelWidth, std::string_view value,
                        int bits);
void ElementLine(std::string& line, std::string_view label, std::size_t labelWidth,
                 std::string_view value, int bits);

// Where " : " first occurs in line; npos when nowhere. In an element line that is after the
// label and its padding, which is found without searching the padding blank by blank.
std::size_t ElementSeparator(std::string_view line);

// An element line as the parsers tell it, before it is text: the label padded to
// LabelWidth, " : ", the value, the width annotation, and " [meaning]" when it has one.
// The views that keep lines as text format it (ElementLineText); the command line keeps the
// parts and writes its text and JSON from them.
struct TElementLine {
    std::string_view Label;
    std::size_t LabelWidth = 0;
    std::string_view Value;
    int AnnotationBits = kVariableBits;
    std::string_view Meaning;
};
void ElementLineText(std::string& line, const TElementLine& element);
// The same written at out, which has room for ElementLineRoom(element) characters, a bound
// found without formatting the annotation; the end.
inline constexpr std::size_t kAnnotationMaxSize = 19; // " (-2147483648 bits)"
inline std::size_t ElementLineRoom(const TElementLine& element) {
    return (element.Label.size() > element.LabelWidth ? element.Label.size() : element.LabelWidth) +
           element.Value.size() + element.Meaning.size() + 6 + kAnnotationMaxSize;
}
char* WriteElementLine(char* out, const TElementLine& element);

// The first and the last Size characters of size (at least Size) at from, to out.
template <std::size_t Size> void CopyEnds(char* out, const char* from, std::size_t size) {
    std::memcpy(out, from, Size);
    std::memcpy(out + size - Size, from + size - Size, Size);
}

// Copies text to out and returns its end, writing and reading nothing past either: a short
// text goes in two copies of a fixed size that overlap, with no call and no loop over its
// characters, as lines are mostly a few words.
inline char* CopyText(char* out, std::string_view text) {
    const char* from = text.data();
    const std::size_t size = text.size();
    if (size > 64) {
        for (std::size_t at = 0; at + 16 < size; at += 16) {
            std::memcpy(out + at, from + at, 16);
        }
        std::memcpy(out + size - 16, from + size - 16, 16);
    } else if (size >= 32) {
        CopyEnds<32>(out, from, size);
    } else if (size >= 16) {
        CopyEnds<16>(out, from, size);
    } else if (size >= 8) {
        CopyEnds<8>(out, from, size);
    } else if (size >= 4) {
        CopyEnds<4>(out, from, size);
    } else if (size > 0) {
        out[0] = from[0];
        out[size / 2] = from[size / 2];
        out[size - 1] = from[size - 1];
    }
    return out + size;
}

// A tree that takes element lines as their parts as well as text lines, and text lines as
// views, which a caller whose text is no string need not copy into one.
class IElementLines : public ITreeLines {
  public:
    virtual TTreeLine AddElementLine(TTreeLine parent, const TElementLine& element) = 0;
    // Unless a tree takes views itself, the text goes to AddChildLine as a string.
    virtual TTreeLine AddTextLine(TTreeLine parent, std::string_view text);
    IElementLines* ElementSide() final { return this; }
};

// Adds element under parent: as its parts where the tree takes them (elements, its element
// side), as text otherwise.
TTreeLine AddElementLineAsText(ITreeLines& tree, TTreeLine parent, const TElementLine& element);
inline TTreeLine AddElementLine(ITreeLines& tree, IElementLines* elements, TTreeLine parent,
                                const TElementLine& element) {
    return elements != nullptr ? elements->AddElementLine(parent, element)
                               : AddElementLineAsText(tree, parent, element);
}

// Adds text under parent: as a view where the tree takes them (elements, its element side).
TTreeLine AddTextLineAsString(ITreeLines& tree, TTreeLine parent, std::string_view text);
inline TTreeLine AddTextLine(ITreeLines& tree, IElementLines* elements, TTreeLine parent,
                             std::string_view text) {
    return elements != nullptr ? elements->AddTextLine(parent, text)
                               : AddTextLineAsString(tree, parent, text);
}

// Adds the element lines of one structure under its structure line.
class TElementLines {
  public:
    TElementLines(ITreeLines& tree, TTreeLine parent, std::size_t labelWidth)
        : TElementLines(tree, tree.ElementSide(), parent, labelWidth) {}
    // The same with tree's element side already looked up.
    TElementLines(ITreeLines& tree, IElementLines* elements, TTreeLine parent,
                  std::size_t labelWidth)
        : FTree(tree), FElements(elements), FParent(parent), FLabelWidth(labelWidth) {}

    // A fixed-width element of bits bits (kVariableBits for ue(v)), written unsigned.
    TTreeLine Unsigned(std::string_view label, std::uint32_t value, int bits);
    // A ue(v) element.
    TTreeLine Ue(std::string_view label, std::uint32_t value) {
        return Unsigned(label, value, kVariableBits);
    }
    // An se(v) element, written signed.
    TTreeLine Se(std::string_view label, std::int32_t value);
    // A structure line (no value, no annotation).
    TTreeLine Structure(const std::string& text) { return FTree.AddChildLine(FParent, text); }

    TTreeLine Parent() const { return FParent; }

  private:
    template <class T> TTreeLine AddInteger(std::string_view label, T value, int bits);

    ITreeLines& FTree;
    IElementLines* FElements;
    TTreeLine FParent;
    std::size_t FLabelWidth;
};
