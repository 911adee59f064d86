#include "qt/KeyDownFilter.h"

#include "qt/VirtualKeys.h"

#include <QEvent>
#include <QKeyEvent>

#include <utility>

TKeyDownFilter::TKeyDownFilter(QObject* parent) : QObject(parent) {
    parent->installEventFilter(this);
}

void TKeyDownFilter::SetHandler(KeyDownHandler handler) {
    FOnKeyDown = std::move(handler);
}

bool TKeyDownFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && FOnKeyDown) {
        // A copy: the handler may replace itself.
        const KeyDownHandler handler = FOnKeyDown;
        handler(VirtualKeyOf(static_cast<QKeyEvent*>(event)->key()));
    }
    return QObject::eventFilter(watched, event);
}
