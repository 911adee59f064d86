#include "QtTestSupport.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <QUrl>

namespace {

QStyleOptionSlider SliderOption(const QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    if (bar->orientation() == Qt::Horizontal) {
        option.state |= QStyle::State_Horizontal;
    }
    return option;
}

void CollectTexts(QAccessibleInterface* node, QStringList& texts, int depth) {
    if (!node || depth > 4) {
        return;
    }
    texts << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i) {
        CollectTexts(node->child(i), texts, depth + 1);
    }
}

} // namespace

QPoint ScrollBarPoint(const QScrollBar* bar, QStyle::SubControl control) {
    const QStyleOptionSlider option = SliderOption(bar);
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, control, bar).center();
}

void DragThumb(QScrollBar* bar, double fraction) {
    const QStyleOptionSlider option = SliderOption(bar);
    const QRect groove = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                      QStyle::SC_ScrollBarGroove, bar);
    const QPoint from = ScrollBarPoint(bar, QStyle::SC_ScrollBarSlider);
    const QPoint to(from.x(), groove.top() + static_cast<int>(fraction * groove.height()));
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(bar, (from + to) / 2);
    QTest::mouseMove(bar, to);
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, to);
}

bool DropFiles(QWidget* widget, const QStringList& paths) {
    auto* area = qobject_cast<QAbstractScrollArea*>(widget);
    QWidget* target = area ? area->viewport() : widget;
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    mime.setUrls(urls);
    const QPointF at(target->rect().center());
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

void Wheel(QWidget* widget, int delta) {
    const QPointF at(widget->rect().center());
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

QStringList AccessibleTexts(QWidget* widget) {
    QStringList texts;
    CollectTexts(QAccessible::queryAccessibleInterface(widget), texts, 0);
    return texts;
}
