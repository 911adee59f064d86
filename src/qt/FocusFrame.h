#pragma once

#include <QWidget>

// A holder around one view that draws a frame in the highlight colour while the view has
// the keyboard focus. Its margins are the same with and without the frame, so the view
// keeps its size (and the NAL list its rows) when the focus moves.
class TFocusFrame : public QWidget {
    Q_OBJECT
  public:
    explicit TFocusFrame(QWidget* parent = nullptr);
    // Puts view inside; the holder then stands where the view would have stood.
    void SetView(QWidget* view);
    QWidget* View() const { return FView; }
    // Whether the frame is drawn now.
    bool FrameShown() const;

    static constexpr int kWidth = 2;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QWidget* FView = nullptr;
};
