#include "qt/CutTextTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace {

// The room a cell's text leaves for its margins.
constexpr int kTextMargin = 8;

} // namespace

TCutTextTips::TCutTextTips(QAbstractItemView* view) : QObject(view), FView(view) {
    view->viewport()->installEventFilter(this);
}

bool TCutTextTips::eventFilter(QObject* watched, QEvent* event) {
    // The type first: while the view is being destroyed it is no longer a view to ask.
    if (event->type() != QEvent::ToolTip || watched != FView->viewport()) {
        return false;
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = FView->indexAt(help->pos());
    const QString text = index.data(Qt::DisplayRole).toString();
    const QRect cell = FView->visualRect(index);
    const int shown = std::min(cell.right(), FView->viewport()->width()) - cell.left();
    if (!index.isValid() || text.isEmpty() ||
        FView->fontMetrics().horizontalAdvance(text) + kTextMargin <= shown) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(help->globalPos(), text, FView->viewport(), cell);
    }
    return true;
}
