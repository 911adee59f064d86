#include "qt/LineListView.h"

#include "qt/Cp1252.h"
#include "qt/Fonts.h"
#include "qt/KeyDownFilter.h"
#include "qt/VirtualKeys.h"

#include <QApplication>
#include <QByteArray>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPoint>
#include <QStyledItemDelegate>

#include <algorithm>
#include <utility>

namespace {

constexpr int kBytesRole = Qt::UserRole;

// Every line exactly one font line high, so the lines that fit are the inner height
// divided by LineHeight. Marked characters get a background of their own, drawn under
// the text; the font has a fixed pitch, so a character's place follows from its index.
class TLineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), option.fontMetrics.height()};
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QVariantList marks = index.data(kMarksRole).toList();
        if (marks.isEmpty()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
        const QString text = opt.text;
        opt.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const QFontMetrics metrics(opt.font);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int left = textRect.left() + margin;
        for (const QVariant& mark : marks) {
            const QPoint range = mark.toPoint();
            const int x0 = left + metrics.horizontalAdvance(text.left(range.x()));
            const int x1 = left + metrics.horizontalAdvance(text.left(range.y() + 1));
            painter->fillRect(QRect(x0, opt.rect.top(), x1 - x0, opt.rect.height()),
                              opt.palette.color(QPalette::Highlight).lighter(160));
        }
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color((opt.state & QStyle::State_Selected) != 0
                                              ? QPalette::HighlightedText
                                              : QPalette::Text));
        painter->drawText(textRect.adjusted(margin, 0, -margin, 0),
                          Qt::AlignLeft | Qt::AlignVCenter, text);
        painter->restore();
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
    // Installed after the key-down filter, so that it sees the keys first.
    installEventFilter(this);
}

bool TLineListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == this && event->type() == QEvent::KeyPress && FOnRange) {
        const auto* press = static_cast<QKeyEvent*>(event);
        const int key = VirtualKeyOf(press->key());
        if ((press->modifiers() & Qt::ShiftModifier) != 0 && key >= Key::PageUp &&
            key <= Key::Down) {
            FOnRange(TRangeInput{TRangeInput::TKind::Key, key});
            return true;
        }
    }
    return QListWidget::eventFilter(watched, event);
}

int TLineListView::CharAt(const QPoint& point) const {
    // Where the delegate starts the text: the style's text rectangle and the focus margin.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = QRect(0, 0, viewport()->width(), fontMetrics().height());
    option.features |= QStyleOptionViewItem::HasDisplay;
    const QRect text = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    const int left =
        text.left() + style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int advance = std::max(fontMetrics().horizontalAdvance(QLatin1Char('0')), 1);
    return std::max(point.x() - left, 0) / advance;
}

void TLineListView::DeliverPointer(TRangeInput::TKind kind, QMouseEvent* event) {
    if (!FOnRange || count() == 0) {
        return;
    }
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    const int line = index.isValid() ? index.row() : at.y() < 0 ? 0 : count() - 1;
    FOnRange(TRangeInput{kind, 0, line, CharAt(at), (event->modifiers() & Qt::ShiftModifier) != 0});
}

void TLineListView::mousePressEvent(QMouseEvent* event) {
    QListWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) {
        DeliverPointer(TRangeInput::TKind::Press, event);
    }
}

void TLineListView::mouseMoveEvent(QMouseEvent* event) {
    QListWidget::mouseMoveEvent(event);
    if ((event->buttons() & Qt::LeftButton) != 0) {
        DeliverPointer(TRangeInput::TKind::Drag, event);
    }
}

void TLineListView::Clear() {
    clear();
}

void TLineListView::Append(const std::string& text) {
    auto* item = new QListWidgetItem;
    SetItemText(item, text);
    addItem(item);
}

void TLineListView::SetMarks(const std::vector<TLineMark>& marks) {
    for (int i = 0; i < count(); ++i) {
        item(i)->setData(kMarksRole, QVariant());
    }
    for (const TLineMark& mark : marks) {
        if (QListWidgetItem* line = item(mark.Line)) {
            QVariantList ranges = line->data(kMarksRole).toList();
            ranges.append(QPoint(mark.FirstChar, mark.LastChar));
            line->setData(kMarksRole, ranges);
        }
    }
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
    setFont(FixedFont(QString::fromStdString(family), pointSize));
}

void TLineListView::SetFocus() {
    setFocus(Qt::OtherFocusReason);
}

void TLineListView::SetKeyDownHandler(KeyDownHandler handler) {
    FKeyDownFilter->SetHandler(std::move(handler));
}

void TLineListView::wheelEvent(QWheelEvent* event) {
    if (!FWheel.Deliver(event, FOnWheel)) {
        QListWidget::wheelEvent(event);
    }
}
