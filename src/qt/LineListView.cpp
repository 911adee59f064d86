#include "qt/LineListView.h"

#include "qt/Cp1252.h"
#include "qt/Fonts.h"
#include "qt/KeyDownFilter.h"

#include <QByteArray>
#include <QStyledItemDelegate>

#include <utility>

namespace {

constexpr int kBytesRole = Qt::UserRole;

// Every line exactly one font line high, so the lines that fit are the inner height
// divided by LineHeight.
class TLineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), option.fontMetrics.height()};
    }
};

void SetItemText(QListWidgetItem* item, const std::string& text) {
    item->setText(Cp1252ToQString(text));
    item->setData(kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

} // namespace

TLineListView::TLineListView(QWidget* parent)
    : QListWidget(parent), FKeyDownFilter(new TKeyDownFilter(this)) {
    setItemDelegate(new TLineDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // ScrollBar2 beside the list pages through the file; the list holds one screen.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void TLineListView::Clear() {
    clear();
}

void TLineListView::Append(const std::string& text) {
    auto* item = new QListWidgetItem;
    SetItemText(item, text);
    addItem(item);
}

int TLineListView::Count() const {
    return count();
}

std::string TLineListView::Line(int index) const {
    const QListWidgetItem* line = item(index);
    return line ? line->data(kBytesRole).toByteArray().toStdString() : std::string();
}

void TLineListView::SetLine(int index, const std::string& text) {
    if (QListWidgetItem* line = item(index)) {
        SetItemText(line, text);
    }
}

int TLineListView::SelectedIndex() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TLineListView::SetSelectedIndex(int index) {
    if (index >= 0 && index < count()) {
        setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
        clearSelection();
    }
}

int TLineListView::InnerHeight() const {
    return viewport()->height();
}

int TLineListView::LineHeight() const {
    return fontMetrics().height();
}

void TLineListView::SetFont(const std::string& family, int pointSize) {
    setFont(PreferredFont(QString::fromStdString(family), pointSize, FixedFont(pointSize)));
}

void TLineListView::SetFocus() {
    setFocus(Qt::OtherFocusReason);
}

void TLineListView::SetKeyDownHandler(KeyDownHandler handler) {
    FKeyDownFilter->SetHandler(std::move(handler));
}
