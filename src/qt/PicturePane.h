#pragma once

#include "toolkit/PicturePane.h"

#include <QImage>
#include <QWidget>

class QLabel;
class QScrollArea;

// The picture scaled to fit its area with its shape kept, drawn from a copy scaled once
// for each new picture or size. The picture comes already fitted to the area it was asked
// for, so that only a resize since scales it here.
class TPictureCanvas : public QWidget {
  public:
    explicit TPictureCanvas(QWidget* parent);
    void SetImage(const TRgbImage& image);
    bool HasImage() const { return !FImage.isNull(); }
    // 0: fitted to the canvas; 1 or 2: drawn that many times its size, sample by sample,
    // the canvas as large as that.
    void SetZoom(int zoom);
    // Told where the pointer is over the picture, in the image's pixels; -1, -1 off it.
    std::function<void(int x, int y)> PointerListener;
    // Where the picture lies in the canvas.
    QRect Placement() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

  private:
    void FitToZoom();
    TRgbImage FSource; // keeps the pixels FImage points into
    int FZoom = 0;
    QImage FImage;
    QImage FScaled;
};

// The picture pane: the canvas and the line under it. Results of the decoding thread come
// back to the user-interface thread through Post.
class TQtPicturePane : public QWidget, public IPicturePane, public IUiThread {
    Q_OBJECT
  public:
    explicit TQtPicturePane(QWidget* parent);

    void SetVisible(bool visible) override;
    bool Visible() const override;
    int ImageWidth() const override;
    int ImageHeight() const override;
    void ShowImage(const TRgbImage& image) override;
    void ClearImage() override;
    bool HasImage() const override;
    void SetLine(const std::string& text) override;
    std::string Line() const override;
    void SetPointerListener(std::function<void(int x, int y)> listener) override;
    void SetZoom(int zoom) override;

    void Post(std::function<void()> task) override;
    void SetStepHandler(std::function<void(int direction)> handler) override;

    TPictureCanvas* Canvas = nullptr;
    // Holds the canvas: scrolled when a zoomed picture is larger than the pane.
    QScrollArea* Scroll = nullptr;
    QLabel* LineLabel = nullptr;

  protected:
    // Left and Right, and the wheel with Ctrl, step to the previous or next picture.
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // The wheel with Ctrl over a zoomed picture steps too, rather than scrolling it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(int)> FOnStep;
};
