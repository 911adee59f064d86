#pragma once

#include "toolkit/Toolkit.h"

#include <QDockWidget>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// The picture sizes over the file: one bar per stretch of the file, as high as its largest
// access unit, coloured by the type that most of its pictures have (I red, P blue, B green),
// IDR pictures marked above, the current page shaded. A click tells the offset under it.
class TSummaryPlotView : public QWidget {
    Q_OBJECT
  public:
    explicit TSummaryPlotView(QWidget* parent = nullptr);
    void SetPlot(const TSummaryPlot& plot);
    void SetPage(std::int64_t first, std::int64_t end);
    void SetClickHandler(std::function<void(std::int64_t offset)> handler);
    const TSummaryPlot& Plot() const { return FPlot; }
    // The offset under an x coordinate.
    std::int64_t OffsetAt(int x) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    int XOf(std::int64_t offset) const;

    TSummaryPlot FPlot;
    std::function<void(std::int64_t)> FOnClick;
};

// View > Stream Summary: a pane under the window with the figures, the plot and the walk's
// progress.
class TSummaryPane : public QDockWidget, public ISummaryView {
    Q_OBJECT
  public:
    explicit TSummaryPane(QWidget* parent = nullptr);

    void SetPaneVisible(bool visible) override;
    bool PaneVisible() const override;
    void SetFigures(const std::vector<std::string>& lines) override;
    void SetPlot(const TSummaryPlot& plot) override;
    void SetPage(std::int64_t first, std::int64_t end) override;
    void SetProgress(bool running, int permille, const std::string& text) override;
    void SetCancelHandler(NotifyHandler handler) override;
    void SetClickHandler(std::function<void(std::int64_t offset)> handler) override;

    QLabel* Figures = nullptr;
    TSummaryPlotView* PlotView = nullptr;
    QProgressBar* Bar = nullptr;
    QPushButton* CancelButton = nullptr;

  private:
    NotifyHandler FOnCancel;
};
