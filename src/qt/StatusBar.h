#pragma once

#include "toolkit/Toolkit.h"

#include <QStatusBar>

class QLabel;

// The status bar: the file's size, where the page lies, the selected unit and the last
// navigation step's note, each a label a screen reader reads by its name.
class TStatusBar : public QStatusBar, public IStatusBar {
    Q_OBJECT
  public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void SetText(TStatusField field, const std::string& text) override;
    std::string Text(TStatusField field) const override;

  private:
    QLabel* Label(TStatusField field) const;
    QLabel* FLabels[4] = {};
};
