#pragma once

#include "toolkit/Toolkit.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The progress of a search under the lists: what is looked for, how far it has read, and
// a Cancel button that Esc also presses while the bar is shown.
class TFindProgress : public QWidget, public IProgressBar {
    Q_OBJECT
  public:
    explicit TFindProgress(QWidget* parent = nullptr);

    void Show(const std::string& caption) override;
    void SetProgress(int permille, const std::string& text) override;
    void Hide() override;
    bool Visible() const override;
    void SetCancelHandler(NotifyHandler handler) override;

    QLabel* Caption = nullptr;
    QProgressBar* Bar = nullptr;
    QPushButton* CancelButton = nullptr;

  private:
    NotifyHandler FOnCancel;
};
