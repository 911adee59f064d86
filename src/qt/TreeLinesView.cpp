#include "qt/TreeLinesView.h"

#include <QScrollBar>

#include "qt/CutTextTips.h"
#include "qt/Fonts.h"

#include <QHeaderView>

#include <algorithm>

namespace {

// A line handle is the item itself.
QTreeWidgetItem* ItemOf(TTreeLine line) {
    return reinterpret_cast<QTreeWidgetItem*>(line);
}

TTreeLine LineOf(QTreeWidgetItem* item) {
    return reinterpret_cast<TTreeLine>(item);
}

QTreeWidgetItem* NewItem(const std::string& text) {
    const QString line = QString::fromStdString(text);
    auto* item = new QTreeWidgetItem(QStringList{line});
    item->setToolTip(0, line);
    return item;
}

void AddBranch(const QTreeWidgetItem* item, int depth, std::vector<TBranchLine>& lines) {
    lines.push_back({depth, item->text(0).toStdString()});
    for (int i = 0; i < item->childCount(); ++i) {
        AddBranch(item->child(i), depth + 1, lines);
    }
}

constexpr int kFirstBitRole = Qt::UserRole;
constexpr int kLastBitRole = Qt::UserRole + 1;

// The bits from the first one of the line (or of any line below it) to the last one.
void Span(const QTreeWidgetItem* item, std::int64_t& first, std::int64_t& last) {
    const QVariant own = item->data(0, kFirstBitRole);
    if (own.isValid()) {
        const std::int64_t a = own.toLongLong();
        const std::int64_t b = item->data(0, kLastBitRole).toLongLong();
        first = first < 0 ? a : std::min(first, a);
        last = std::max(last, b);
        return;
    }
    for (int i = 0; i < item->childCount(); ++i) {
        Span(item->child(i), first, last);
    }
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
    setFont(FixedFont(QStringLiteral("Courier New"), 8));
    new TCutTextTips(this);
    // Long element lines scroll sideways instead of being cut short.
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!FSelect) {
            return;
        }
        std::int64_t first = -1;
        std::int64_t last = -1;
        if (item != nullptr) {
            Span(item, first, last);
        }
        FSelect(first, first < 0 ? 0 : last - first + 1);
    });
}

void TTreeLinesView::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (line != nullptr && bits > 0) {
        ItemOf(line)->setData(0, kFirstBitRole, QVariant::fromValue<qlonglong>(firstBit));
        ItemOf(line)->setData(0, kLastBitRole, QVariant::fromValue<qlonglong>(firstBit + bits - 1));
    }
}

std::vector<TBranchLine> TTreeLinesView::SelectedBranch() const {
    std::vector<TBranchLine> lines;
    const QTreeWidgetItem* item = currentItem();
    if (item == nullptr || !item->isSelected()) {
        return lines;
    }
    int depth = 0;
    for (const QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent()) {
        ++depth;
    }
    AddBranch(item, depth, lines);
    return lines;
}

void TTreeLinesView::ClearLines() {
    clear();
    // Another unit's tree starts at its first line, wherever the last one was scrolled to.
    scrollToTop();
    horizontalScrollBar()->setValue(0);
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
