#pragma once

#include "qt/WheelNotches.h"
#include "toolkit/Toolkit.h"

#include <QScrollBar>

// ScrollBar1 and ScrollBar2: a vertical scroll bar. Its scroll handler gets a scroll code
// for every step and drag, with a position it may change; its mouse-down handler runs once
// a press on it has ended, so the position already shows the click or the drag. Without a
// scroll handler the wheel moves nothing: such a bar moves only by presses.
class TScrollBar : public QScrollBar, public IScrollBar {
    Q_OBJECT
  public:
    explicit TScrollBar(QWidget* parent = nullptr);

    // IScrollBar
    int Position() const override;
    void SetPosition(int position) override;
    int Minimum() const override;
    void SetMinimum(int minimum) override;
    int Maximum() const override;
    void SetMaximum(int maximum) override;
    // Nothing to do: Qt sizes the thumb by the page step, which is the large change here.
    void SetPageSize(int pageSize) override;
    void SetSmallChange(int change) override;
    void SetLargeChange(int change) override;
    void SetScrollHandler(ScrollHandler handler) override;
    void SetMouseDownHandler(NotifyHandler handler) override;
    // Takes the wheel's notches instead of stepping the bar.
    void SetWheelHandler(TWheelNotches::Handler handler) { FOnWheel = std::move(handler); }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void OnAction(int action);
    void Notify(ScrollCode code, int position);

    ScrollHandler FOnScroll;
    NotifyHandler FOnMouseDown;
    int FWheelDelta = 0;
    TWheelNotches::Handler FOnWheel;
    TWheelNotches FWheel;
    bool FPressed = false;
    bool FNotifying = false;
};
