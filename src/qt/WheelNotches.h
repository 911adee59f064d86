#pragma once

#include <QWheelEvent>

#include <functional>

// Whole notches of the wheel (away from the user positive) from Qt's eighths of a degree;
// a fine-grained wheel or touchpad adds up to notches over several events.
class TWheelNotches {
  public:
    using Handler = std::function<void(int notches)>;

    // Hands the event's whole notches to handler; false when there is no handler, so the
    // widget's own wheel handling applies.
    bool Deliver(QWheelEvent* event, const Handler& handler) {
        if (!handler) {
            return false;
        }
        event->accept();
        FDelta += event->angleDelta().y();
        const int notches = FDelta / kNotch;
        FDelta -= notches * kNotch;
        if (notches != 0) {
            handler(notches);
        }
        return true;
    }

  private:
    static constexpr int kNotch = 120;
    int FDelta = 0;
};
