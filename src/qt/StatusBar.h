#pragma once

#include "toolkit/Toolkit.h"

#include <QStatusBar>

#include <array>

class QLabel;

// The status bar under the window: one label a field, each named for screen readers.
class TStatusBarView : public QStatusBar, public IStatusBar {
    Q_OBJECT
  public:
    explicit TStatusBarView(QWidget* parent = nullptr);
    void SetText(TStatusField field, const std::string& text) override;
    std::string Text(TStatusField field) const override;

  private:
    std::array<QLabel*, 4> FFields{};
};
