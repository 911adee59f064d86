#include "syntax/SyntaxTree.h"

#include "stream/H264Utils.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <stdexcept>

namespace {

TSyntaxLine* Node(TTreeLine handle) {
    return reinterpret_cast<TSyntaxLine*>(handle);
}
TTreeLine Handle(TSyntaxLine* line) {
    return reinterpret_cast<TTreeLine>(line);
}

void WalkLine(const TSyntaxLine& line, int depth,
              const std::function<void(const TSyntaxLine&, int)>& visit) {
    visit(line, depth);
    for (const auto& child : line.Children) {
        WalkLine(*child, depth + 1, visit);
    }
}

} // namespace

void TSyntaxTree::ClearLines() {
    FRoots.clear();
    FUsed = 0;
}

TSyntaxLine* TSyntaxTree::NewLine(const std::string& text, TSyntaxLine* parent) {
    if (FUsed == FLines.size()) {
        FLines.push_back(std::make_unique<TSyntaxLine>());
    }
    TSyntaxLine& line = *FLines[FUsed++];
    line.Text.assign(text);
    line.Expanded = false;
    line.FirstBit = -1;
    line.Bits = 0;
    line.Parent = parent;
    line.Children.clear();
    return &line;
}

TTreeLine TSyntaxTree::AddRootLine(const std::string& text) {
    TSyntaxLine* added = NewLine(text, nullptr);
    FRoots.insert(FRoots.begin(), added);
    return Handle(added);
}

TTreeLine TSyntaxTree::AddChildLine(TTreeLine parent, const std::string& text) {
    TSyntaxLine* owner = Node(parent);
    if (owner == nullptr) {
        throw std::invalid_argument("AddChildLine without a parent line");
    }
    TSyntaxLine* added = NewLine(text, owner);
    owner->Children.push_back(added);
    return Handle(added);
}

void TSyntaxTree::ExpandLine(TTreeLine line) {
    if (TSyntaxLine* node = Node(line)) {
        node->Expanded = true;
    }
}

void TSyntaxTree::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (TSyntaxLine* node = Node(line)) {
        node->FirstBit = firstBit;
        node->Bits = bits;
    }
}

void TSyntaxTree::Walk(const std::function<void(const TSyntaxLine&, int)>& visit) const {
    for (const auto& root : FRoots) {
        WalkLine(*root, 0, visit);
    }
}

namespace {

// Room for a 64-bit integer written in decimal, its sign included.
constexpr std::size_t kDecimalMaxSize = 20;

// The annotations of the usual widths (ue(v) as 0), made once: nearly every line has one.
struct TAnnotationText {
    char Text[12] = {};
    std::size_t Size = 0;
};
constexpr std::size_t kUsualWidths = 64;
constexpr std::size_t kAnnotationLeast = 8; // " (1 bit)"
constexpr std::array<TAnnotationText, kUsualWidths> kUsualAnnotations = [] {
    std::array<TAnnotationText, kUsualWidths> texts{};
    for (std::size_t bits = 0; bits < kUsualWidths; ++bits) {
        TAnnotationText& annotation = texts[bits];
        const auto put = [&annotation](std::string_view part) {
            for (const char c : part) {
                annotation.Text[annotation.Size++] = c;
            }
        };
        if (static_cast<int>(bits) == kVariableBits) {
            put(" (v bits)");
            continue;
        }
        put(" (");
        if (bits >= 10) {
            annotation.Text[annotation.Size++] = static_cast<char>('0' + bits / 10);
        }
        annotation.Text[annotation.Size++] = static_cast<char>('0' + bits % 10);
        put(bits == 1 ? " bit)" : " bits)");
    }
    return texts;
}();

// What the padding of an element line may write past it: its " : " and the shortest
// annotation, " (1 bit)".
constexpr std::size_t kAfterPadding = 3 + kAnnotationLeast;
constexpr std::size_t kPaddedBlanks = 40;
constexpr char kBlanks[] = "                ";

inline char* WriteWidthAnnotation(char* out, int bits) {
    if (bits >= 0 && static_cast<std::size_t>(bits) < kUsualWidths) {
        // As its first eight characters and its last eight, which every one of them has:
        // two copies of a size known, with no call.
        const TAnnotationText& usual = kUsualAnnotations[static_cast<std::size_t>(bits)];
        const std::size_t last = usual.Size - kAnnotationLeast;
        std::memcpy(out, usual.Text, kAnnotationLeast);
        std::memcpy(out + last, usual.Text + last, kAnnotationLeast);
        return out + usual.Size;
    }
    out = std::copy_n(" (", 2, out);
    out = std::to_chars(out, out + kDecimalMaxSize, bits).ptr;
    return std::copy_n(" bits)", 6, out);
}

} // namespace

std::string WidthAnnotation(int bits) {
    char text[kDecimalMaxSize + 8];
    return {text, WriteWidthAnnotation(text, bits)};
}

std::string IndexedLabel(std::string_view name, std::int64_t index) {
    char digits[kDecimalMaxSize];
    const char* end = std::to_chars(digits, digits + sizeof digits, index).ptr;
    std::string label;
    label.reserve(name.size() + static_cast<std::size_t>(end - digits) + 2);
    label += name;
    label += '[';
    label.append(digits, static_cast<std::size_t>(end - digits));
    label += ']';
    return label;
}

std::string ElementLine(std::string_view label, std::size_t labelWidth, std::string_view value,
                        int bits) {
    std::string line;
    ElementLine(line, label, labelWidth, value, bits);
    return line;
}

void ElementLine(std::string& line, std::string_view label, std::size_t labelWidth,
                 std::string_view value, int bits) {
    ElementLineText(line, {label, labelWidth, value, bits, {}});
}

char* WriteElementLine(char* out, const TElementLine& element) {
    const std::size_t padded = std::max(element.Label.size(), element.LabelWidth);
    // The " : " and the annotation after the padding, eleven characters at least, cover what
    // the blanks write past it: the usual widths get 40 blanks in three copies of a size
    // known under the label, the others words of eight after it.
    char* const padEnd = out + padded;
    if (padded >= kPaddedBlanks - kAfterPadding && padded <= kPaddedBlanks) {
        std::memcpy(out, kBlanks, 16);
        std::memcpy(out + 16, kBlanks, 16);
        std::memcpy(out + 32, kBlanks, kPaddedBlanks - 32);
        CopyText(out, element.Label);
    } else {
        for (out = CopyText(out, element.Label); out < padEnd; out += 8) {
            std::memcpy(out, kBlanks, 8);
        }
    }
    std::memcpy(padEnd, " : ", 3);
    out = CopyText(padEnd + 3, element.Value);
    out = WriteWidthAnnotation(out, element.AnnotationBits);
    if (!element.Meaning.empty()) {
        std::memcpy(out, " [", 2);
        out = CopyText(out + 2, element.Meaning);
        *out++ = ']';
    }
    return out;
}

void ElementLineText(std::string& line, const TElementLine& element) {
    line.resize(ElementLineRoom(element));
    line.resize(static_cast<std::size_t>(WriteElementLine(line.data(), element) - line.data()));
}

std::size_t ElementSeparator(std::string_view line) {
    // Every " : " holds a colon, so when the first colon stands between blanks it begins
    // the first " : ".
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return colon; // no colon, no " : "
    }
    if (colon > 0 && colon + 1 < line.size() && line[colon - 1] == ' ' && line[colon + 1] == ' ') {
        return colon - 1;
    }
    return line.find(" : ");
}

namespace {

// One line's room for every tree of the thread, kept from line to line.
std::string& LineRoom() {
    thread_local std::string room;
    return room;
}

} // namespace

TTreeLine IElementLines::AddTextLine(TTreeLine parent, std::string_view text) {
    return AddTextLineAsString(*this, parent, text);
}

TTreeLine AddTextLineAsString(ITreeLines& tree, TTreeLine parent, std::string_view text) {
    return tree.AddChildLine(parent, LineRoom().assign(text));
}

TTreeLine AddElementLineAsText(ITreeLines& tree, TTreeLine parent, const TElementLine& element) {
    std::string& text = LineRoom();
    ElementLineText(text, element);
    return tree.AddChildLine(parent, text);
}

template <class T> TTreeLine TElementLines::AddInteger(std::string_view label, T value, int bits) {
    char digits[kDecimalMaxSize];
    const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return AddElementLine(
        FTree, FElements, FParent,
        {label, FLabelWidth, {digits, static_cast<std::size_t>(end - digits)}, bits, {}});
}

TTreeLine TElementLines::Unsigned(std::string_view label, std::uint32_t value, int bits) {
    return AddInteger(label, value, bits);
}

TTreeLine TElementLines::Se(std::string_view label, std::int32_t value) {
    return AddInteger(label, value, kVariableBits);
}
