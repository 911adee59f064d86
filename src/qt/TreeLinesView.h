#pragma once

#include "syntax/SyntaxTree.h"
#include "toolkit/Toolkit.h"

#include <QTreeWidget>

#include <cstdint>
#include <functional>

// TreeView1: the detail tree, a read-only tree of text lines in a fixed-pitch font. Each
// line may know where its bits lie; selecting a line reports them. A line too long for
// the view shows its whole text as a tooltip.
class TTreeLinesView : public QTreeWidget,
                       public ITreeLines,
                       public ILineBits,
                       public ITreeSelection {
    Q_OBJECT
  public:
    // A line selected: its first bit and width; a structure line without bits of its own
    // reports the span of the lines below it, a line without any reports -1 and 0.
    using SelectHandler = std::function<void(std::int64_t firstBit, std::int64_t bits)>;

    explicit TTreeLinesView(QWidget* parent = nullptr);
    void SetSelectHandler(SelectHandler handler) { FSelect = std::move(handler); }

    // ILineBits
    void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) override;

    // ITreeSelection
    std::vector<TBranchLine> SelectedBranch() const override;

    // ITreeLines
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    void ExpandLine(TTreeLine line) override;

  private:
    SelectHandler FSelect;
};
