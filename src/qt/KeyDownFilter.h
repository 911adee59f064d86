#pragma once

#include "toolkit/Toolkit.h"

#include <QObject>

// Hands every key press of the widgets it watches to a handler before the widget's own
// key handling, which then runs as usual: the key is never consumed. Qt lets a widget see
// a key before anyone else only through an event filter.
class TKeyDownFilter : public QObject {
  public:
    explicit TKeyDownFilter(QObject* parent);
    // An empty handler detaches the previous one.
    void SetHandler(KeyDownHandler handler);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    KeyDownHandler FOnKeyDown;
};
