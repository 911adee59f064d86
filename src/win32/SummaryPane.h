#pragma once

#include "app/SummaryPlot.h"
#include "toolkit/Toolkit.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// View > Stream Summary: a pane under the window's views, above the status bar, with the
// figures, the plot of picture sizes over the file as the plot's model lays it out, and the
// walk's progress with a Cancel button. On the plot a click tells the offset of the access
// unit under it, a drag zooms, a right click or double click shows the whole file again and
// a tooltip tells of the bar under the pointer.
class TWin32SummaryPane : public ISummaryView {
  public:
    TWin32SummaryPane(HWND parent, int cancelId);
    // The window's font for the figures and the button.
    void SetFont(HFONT font);
    // Places the pane's controls in the rectangle given; nothing when it is hidden.
    void Place(int left, int top, int width, int height);
    // The Cancel button was pressed.
    void OnCancel();
    HWND Figures() const { return FFigures; }
    HWND PlotWindow() const { return FPlotWindow; }
    HWND ProgressBar() const { return FBar; }
    HWND PlotTip() const { return FTip; }
    const TSummaryPlotModel& Model() const { return FModel; }

    void SetPaneVisible(bool visible) override;
    bool PaneVisible() const override { return FVisible; }
    void SetFigures(const std::vector<std::string>& lines) override;
    void SetPlot(const TSummaryPlot& plot) override;
    void SetPage(std::int64_t first, std::int64_t end) override;
    void SetProgress(bool running, int permille, const std::string& text) override;
    void SetCancelHandler(NotifyHandler handler) override { FOnCancel = std::move(handler); }
    void SetClickHandler(std::function<void(std::int64_t offset)> handler) override {
        FOnClick = std::move(handler);
    }
    void
    SetUnitTextHandler(std::function<std::string(std::int64_t, std::int64_t)> handler) override {
        FUnitText = std::move(handler);
    }
    void SetZoomHandler(std::function<void(std::int64_t, std::int64_t)> handler) override {
        FModel.OnViewChange = std::move(handler);
    }

  private:
    static LRESULT CALLBACK PlotProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc, const RECT& area) const;
    LRESULT Mouse(UINT message, int x);
    void Measure();
    void ShowControls();

    HWND FFigures;
    HWND FPlotWindow;
    HWND FBar;
    HWND FCancel;
    HWND FTip;
    HFONT FFont = nullptr;
    std::wstring FTipText;
    std::int64_t FTipOffset = -1; // the access unit the tooltip tells of
    bool FVisible = false;
    bool FRunning = false;
    TSummaryPlotModel FModel;
    NotifyHandler FOnCancel;
    std::function<void(std::int64_t)> FOnClick;
    std::function<std::string(std::int64_t, std::int64_t)> FUnitText;
};
