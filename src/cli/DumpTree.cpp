#include "cli/DumpTree.h"

#include <stdexcept>

namespace {

TDumpLine* Node(TTreeLine handle) {
    return reinterpret_cast<TDumpLine*>(handle);
}
TTreeLine Handle(TDumpLine* line) {
    return reinterpret_cast<TTreeLine>(line);
}

} // namespace

void TDumpTree::ClearLines() {
    FRoots.clear();
    FUsed = 0;
}

TDumpLine* TDumpTree::NewLine(TTreeLine parent) {
    if (FUsed == FLines.size()) {
        FLines.push_back(std::make_unique<TDumpLine>());
    }
    TDumpLine& line = *FLines[FUsed++];
    line.LabelSize = 0;
    line.ValueSize = 0;
    line.FirstBit = -1;
    line.Bits = 0;
    line.Children.clear();
    if (parent != nullptr) {
        Node(parent)->Children.push_back(&line);
    }
    return &line;
}

TTreeLine TDumpTree::AddRootLine(const std::string& text) {
    TDumpLine* added = NewLine(nullptr);
    added->Element = false;
    added->Text.assign(text);
    FRoots.insert(FRoots.begin(), added);
    return Handle(added);
}

TTreeLine TDumpTree::AddChildLine(TTreeLine parent, const std::string& text) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddChildLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    added->Element = false;
    added->Text.assign(text);
    return Handle(added);
}

TTreeLine TDumpTree::AddElementLine(TTreeLine parent, const TElementLine& element) {
    if (parent == nullptr) {
        throw std::invalid_argument("AddElementLine without a parent line");
    }
    TDumpLine* added = NewLine(parent);
    added->Element = true;
    added->Text.assign(element.Label);
    added->Text.append(element.Value);
    added->Text.append(element.Meaning);
    added->LabelSize = element.Label.size();
    added->ValueSize = element.Value.size();
    added->LabelWidth = element.LabelWidth;
    added->AnnotationBits = element.AnnotationBits;
    return Handle(added);
}

void TDumpTree::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (TDumpLine* node = Node(line)) {
        node->FirstBit = firstBit;
        node->Bits = bits;
    }
}
