#pragma once

#include "toolkit/Toolkit.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// View > Stream Summary: a pane under the window's views, above the status bar, with the
// figures, the plot of picture sizes over the file (one bar per stretch, as high as its
// largest access unit, coloured by the type most of its pictures have: I red, P blue,
// B green; IDR pictures marked above; the current page shaded) and the walk's progress with
// a Cancel button. A click on the plot tells the offset under it.
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
    // The offset under an x coordinate of the plot.
    std::int64_t OffsetAt(int x) const;

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

  private:
    static LRESULT CALLBACK PlotProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc, const RECT& area) const;
    int XOf(std::int64_t offset, int width) const;
    void ShowControls();

    HWND FFigures;
    HWND FPlotWindow;
    HWND FBar;
    HWND FCancel;
    bool FVisible = false;
    bool FRunning = false;
    TSummaryPlot FPlot;
    NotifyHandler FOnCancel;
    std::function<void(std::int64_t)> FOnClick;
};
