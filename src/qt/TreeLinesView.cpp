#include "qt/TreeLinesView.h"

#include "qt/Fonts.h"

#include <QHeaderView>

namespace {

// A line handle is the item itself.
QTreeWidgetItem* ItemOf(TTreeLine line) {
    return reinterpret_cast<QTreeWidgetItem*>(line);
}

TTreeLine LineOf(QTreeWidgetItem* item) {
    return reinterpret_cast<TTreeLine>(item);
}

QTreeWidgetItem* NewItem(const std::string& text) {
    return new QTreeWidgetItem(QStringList{QString::fromStdString(text)});
}

} // namespace

TTreeLinesView::TTreeLinesView(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    // Not shown, but a screen reader would read the default column number.
    setHeaderLabel(QString());
    setIndentation(19);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFont(PreferredFont(QStringLiteral("Courier New"), 8, FixedFont(8)));
    // Long element lines scroll sideways instead of being cut short.
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
}

void TTreeLinesView::ClearLines() {
    clear();
}

TTreeLine TTreeLinesView::AddRootLine(const std::string& text) {
    QTreeWidgetItem* item = NewItem(text);
    insertTopLevelItem(0, item);
    return LineOf(item);
}

TTreeLine TTreeLinesView::AddChildLine(TTreeLine parent, const std::string& text) {
    QTreeWidgetItem* item = NewItem(text);
    if (parent) {
        ItemOf(parent)->addChild(item);
    } else {
        addTopLevelItem(item);
    }
    return LineOf(item);
}

void TTreeLinesView::ExpandLine(TTreeLine line) {
    if (line) {
        ItemOf(line)->setExpanded(true);
    }
}
