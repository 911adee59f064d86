#include "syntax/SyntaxTree.h"

#include "stream/H264Utils.h"

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
}

TTreeLine TSyntaxTree::AddRootLine(const std::string& text) {
    auto line = std::make_unique<TSyntaxLine>();
    line->Text = text;
    TSyntaxLine* added = line.get();
    FRoots.insert(FRoots.begin(), std::move(line));
    return Handle(added);
}

TTreeLine TSyntaxTree::AddChildLine(TTreeLine parent, const std::string& text) {
    TSyntaxLine* owner = Node(parent);
    if (owner == nullptr) {
        throw std::invalid_argument("AddChildLine without a parent line");
    }
    auto line = std::make_unique<TSyntaxLine>();
    line->Text = text;
    line->Parent = owner;
    TSyntaxLine* added = line.get();
    owner->Children.push_back(std::move(line));
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

std::string WidthAnnotation(int bits) {
    if (bits == kVariableBits) {
        return " (v bits)";
    }
    if (bits == 1) {
        return " (1 bit)";
    }
    return " (" + std::to_string(bits) + " bits)";
}

std::string IndexedLabel(std::string_view name, std::int64_t index) {
    std::string label(name);
    label += '[';
    label += std::to_string(index);
    label += ']';
    return label;
}

std::string ElementLine(std::string_view label, std::size_t labelWidth, std::string_view value,
                        int bits) {
    std::string line = PadRight(label, labelWidth);
    line += " : ";
    line += value;
    line += WidthAnnotation(bits);
    return line;
}

TTreeLine TElementLines::Unsigned(std::string_view label, std::uint32_t value, int bits) {
    return FTree.AddChildLine(FParent,
                              ElementLine(label, FLabelWidth, std::to_string(value), bits));
}

TTreeLine TElementLines::Se(std::string_view label, std::int32_t value) {
    return FTree.AddChildLine(
        FParent, ElementLine(label, FLabelWidth, std::to_string(value), kVariableBits));
}
