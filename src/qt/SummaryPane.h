#pragma once

#include "app/SummaryPlot.h"
#include "toolkit/Toolkit.h"

#include <QDockWidget>
#include <QWidget>

class QLabel;
class QScrollArea;
class QProgressBar;
class QPushButton;

// The picture sizes over the file, drawn as the plot's model lays them out; the mouse goes
// to the model: a click tells the offset of the access unit under it, a drag zooms, a
// right click or a double click shows the whole file again, and hovering tells of the bar.
class TSummaryPlotView : public QWidget {
    Q_OBJECT
  public:
    explicit TSummaryPlotView(QWidget* parent = nullptr);
    void SetPlot(const TSummaryPlot& plot);
    void SetPage(std::int64_t first, std::int64_t end);
    void SetClickHandler(std::function<void(std::int64_t offset)> handler);
    void SetUnitTextHandler(std::function<std::string(std::int64_t, std::int64_t)> handler);
    const TSummaryPlot& Plot() const { return FModel.Plot(); }
    const TSummaryPlotModel& Model() const { return FModel; }
    void SetZoomHandler(std::function<void(std::int64_t, std::int64_t)> handler) {
        FModel.OnViewChange = std::move(handler);
    }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    TSummaryPlotModel FModel;
    std::function<void(std::int64_t)> FOnClick;
    std::function<std::string(std::int64_t, std::int64_t)> FUnitText;
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
    void
    SetUnitTextHandler(std::function<std::string(std::int64_t, std::int64_t)> handler) override;
    void SetZoomHandler(std::function<void(std::int64_t, std::int64_t)> handler) override;

    QLabel* Figures = nullptr;
    QScrollArea* FiguresScroll = nullptr;
    TSummaryPlotView* PlotView = nullptr;
    QProgressBar* Bar = nullptr;
    QPushButton* CancelButton = nullptr;

  private:
    NotifyHandler FOnCancel;
};
