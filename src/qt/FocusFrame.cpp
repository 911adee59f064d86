#include "qt/FocusFrame.h"

#include <QApplication>
#include <QBoxLayout>
#include <QPainter>

TFocusFrame::TFocusFrame(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kWidth, kWidth, kWidth, kWidth);
    layout->setSpacing(0);
    // Any change of the focus may take it to or from the view.
    connect(qApp, &QApplication::focusChanged, this, [this] { update(); });
}

void TFocusFrame::SetView(QWidget* view) {
    FView = view;
    layout()->addWidget(view);
}

bool TFocusFrame::FrameShown() const {
    const QWidget* focus = QApplication::focusWidget();
    return FView != nullptr && focus != nullptr && (focus == FView || FView->isAncestorOf(focus));
}

void TFocusFrame::paintEvent(QPaintEvent* /*event*/) {
    if (!FrameShown()) {
        return;
    }
    QPainter painter(this);
    QPen pen(palette().color(QPalette::Active, QPalette::Highlight), kWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(
        QRectF(rect()).adjusted(kWidth / 2.0, kWidth / 2.0, -kWidth / 2.0, -kWidth / 2.0));
}
