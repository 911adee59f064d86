#pragma once

#include "qt/WheelNotches.h"
#include "toolkit/Toolkit.h"

#include <QListWidget>

class TKeyDownFilter;

// The marked character ranges of a line, as a list of QPoint(first, last).
inline constexpr int kMarksRole = Qt::UserRole + 1;

// ListBox1: the hex view's lines, all of one height. Each line keeps the bytes it was
// given, so that reading a line back returns exactly those.
class TLineListView : public QListWidget, public ILineList {
    Q_OBJECT
  public:
    // Takes the wheel's notches instead of scrolling the view.
    void SetWheelHandler(TWheelNotches::Handler handler) { FOnWheel = std::move(handler); }
    explicit TLineListView(QWidget* parent = nullptr);

    // ILineList
    void Clear() override;
    void Append(const std::string& text) override;
    int Count() const override;
    std::string Line(int index) const override;
    void SetLine(int index, const std::string& text) override;
    int SelectedIndex() const override;
    void SetSelectedIndex(int index) override;
    int InnerHeight() const override;
    int LineHeight() const override;
    void SetFont(const std::string& family, int pointSize) override;
    void SetFocus() override;
    void SetKeyDownHandler(KeyDownHandler handler) override;
    void SetMarks(const std::vector<TLineMark>& marks) override;
    void SetRangeHandler(TRangeHandler handler) override { FOnRange = std::move(handler); }

    // The character of the line under a point of the viewport (before the first: 0).
    int CharAt(const QPoint& point) const;

  private:
    TKeyDownFilter* FKeyDownFilter;

  protected:
    void wheelEvent(QWheelEvent* event) override;
    // Keys with Shift go to the range handler before the key-down filter sees them.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void DeliverPointer(TRangeInput::TKind kind, QMouseEvent* event);
    TRangeHandler FOnRange;
    TWheelNotches::Handler FOnWheel;
    TWheelNotches FWheel;
};
