#pragma once

#include "toolkit/Toolkit.h"

class QAction;
class QTimer;
class QWidget;

// The open-file dialog and the message boxes, owned by the main window.
class TQtDialogs : public IDialogs {
  public:
    explicit TQtDialogs(QWidget* owner);
    std::optional<std::string> OpenFileName() override;
    std::optional<std::string> OpenFileNameFor(const TOpenFileRequest& request) override;
    // Titled with the application's title.
    void ShowMessage(const std::string& text) override;
    void ShowInformation(const std::string& title, const std::string& text) override;
    void ShowWarning(const std::string& title, const std::string& text) override;
    bool Confirm(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                       const std::string& text) override;
    std::optional<std::string> ChooseItem(const std::string& title, const std::string& label,
                                          const std::vector<std::string>& items,
                                          int current) override;

  private:
    QWidget* FOwner;
};

// The application's clipboard; the texts come as the views show them, in Windows-1252.
class TQtClipboard : public IClipboard {
  public:
    void SetText(const std::string& text) override;
};

// The busy cursor over the whole application. Each SetBusy is undone by one SetDefault;
// whatever is still set when this object goes is undone then.
class TQtCursor : public ICursor {
  public:
    TQtCursor() = default;
    ~TQtCursor() override;
    TQtCursor(const TQtCursor&) = delete;
    TQtCursor& operator=(const TQtCursor&) = delete;
    void SetBusy() override;
    void SetDefault() override;

  private:
    int FDepth = 0;
};

// tmUpdate.
class TQtTimer : public ITimer {
  public:
    explicit TQtTimer(QTimer* timer) : FTimer(timer) {}
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;

  private:
    QTimer* FTimer;
};

// The check mark of a checkable menu item.
class TQtMenuCheck : public IMenuCheck {
  public:
    explicit TQtMenuCheck(QAction* action) : FAction(action) {}
    bool Checked() const override;
    void SetChecked(bool checked) override;

  private:
    QAction* FAction;
};
