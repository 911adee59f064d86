#pragma once

#include "toolkit/Toolkit.h"

#include <QTreeWidget>

// TreeView1: the detail tree, a read-only tree of text lines in a fixed-pitch font.
class TTreeLinesView : public QTreeWidget, public ITreeLines {
    Q_OBJECT
  public:
    explicit TTreeLinesView(QWidget* parent = nullptr);

    // ITreeLines
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    void ExpandLine(TTreeLine line) override;
};
