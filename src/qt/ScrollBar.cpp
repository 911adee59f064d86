#include "qt/ScrollBar.h"

#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QWheelEvent>

#include <utility>

namespace {

constexpr int kWheelNotch = 120;

struct TActionCode {
    int Action;
    ScrollCode Code;
};
// A drag (SliderMove) is reported by sliderMoved instead.
constexpr TActionCode kActionCodes[] = {
    {QAbstractSlider::SliderSingleStepSub, ScrollCode::LineUp},
    {QAbstractSlider::SliderSingleStepAdd, ScrollCode::LineDown},
    {QAbstractSlider::SliderPageStepSub, ScrollCode::PageUp},
    {QAbstractSlider::SliderPageStepAdd, ScrollCode::PageDown},
    {QAbstractSlider::SliderToMinimum, ScrollCode::Top},
    {QAbstractSlider::SliderToMaximum, ScrollCode::Bottom},
};

} // namespace

TScrollBar::TScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {
    setRange(0, 100);
    setSingleStep(1);
    setPageStep(1);
    // Keys belong to the lists beside the bars, and the bars' own "scroll here" menu
    // would move them without a press.
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QAbstractSlider::actionTriggered, this, &TScrollBar::OnAction);
    connect(this, &QAbstractSlider::sliderMoved, this,
            [this](int position) { Notify(ScrollCode::ThumbDragged, position); });
    connect(this, &QAbstractSlider::sliderReleased, this,
            [this] { Notify(ScrollCode::ThumbReleased, sliderPosition()); });
}

int TScrollBar::Position() const {
    return value();
}

void TScrollBar::SetPosition(int position) {
    setValue(position);
}

int TScrollBar::Minimum() const {
    return minimum();
}

void TScrollBar::SetMinimum(int minimumValue) {
    setMinimum(minimumValue);
}

int TScrollBar::Maximum() const {
    return maximum();
}

void TScrollBar::SetMaximum(int maximumValue) {
    setMaximum(maximumValue);
}

void TScrollBar::SetPageSize(int /*pageSize*/) {}

void TScrollBar::SetSmallChange(int change) {
    setSingleStep(change);
}

void TScrollBar::SetLargeChange(int change) {
    setPageStep(change);
}

void TScrollBar::SetScrollHandler(ScrollHandler handler) {
    FOnScroll = std::move(handler);
}

void TScrollBar::SetMouseDownHandler(NotifyHandler handler) {
    FOnMouseDown = std::move(handler);
}

// The slider position already holds the step's result here and the value follows it
// afterwards, so the handler's position is the one the bar takes.
void TScrollBar::OnAction(int action) {
    for (const TActionCode& entry : kActionCodes) {
        if (entry.Action == action) {
            Notify(entry.Code, sliderPosition());
            return;
        }
    }
}

void TScrollBar::Notify(ScrollCode code, int position) {
    // Taking the handler's position during a drag reports another move; that one is ours.
    if (!FOnScroll || FNotifying) {
        return;
    }
    const QScopedValueRollback<bool> notifying(FNotifying, true);
    const ScrollHandler handler = FOnScroll;
    int wanted = position;
    handler(code, wanted);
    if (wanted != sliderPosition()) {
        setSliderPosition(wanted);
    }
}

void TScrollBar::mousePressEvent(QMouseEvent* event) {
    QScrollBar::mousePressEvent(event);
    FPressed = true;
}

void TScrollBar::mouseReleaseEvent(QMouseEvent* event) {
    QScrollBar::mouseReleaseEvent(event);
    if (!FPressed || event->buttons() != Qt::NoButton) {
        return;
    }
    FPressed = false;
    if (FOnMouseDown) {
        const NotifyHandler handler = FOnMouseDown;
        handler();
    }
}

// A notch of the wheel steps like the arrows, through the scroll handler.
void TScrollBar::wheelEvent(QWheelEvent* event) {
    if (FWheel.Deliver(event, FOnWheel)) {
        return;
    }
    event->accept();
    if (!FOnScroll) {
        return;
    }
    FWheelDelta += event->angleDelta().y();
    while (FWheelDelta >= kWheelNotch) {
        FWheelDelta -= kWheelNotch;
        triggerAction(SliderSingleStepSub);
    }
    while (FWheelDelta <= -kWheelNotch) {
        FWheelDelta += kWheelNotch;
        triggerAction(SliderSingleStepAdd);
    }
}
