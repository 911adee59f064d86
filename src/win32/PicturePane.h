#pragma once

#include "toolkit/PicturePane.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

// View > Picture with plain Win32 controls: a canvas that draws the picture scaled to fit
// with its shape kept, and the line under it. Results of the decoding thread come back to
// the window's thread as a message posted to the canvas.
class TWin32PicturePane : public IPicturePane, public IUiThread {
  public:
    explicit TWin32PicturePane(HWND parent);
    ~TWin32PicturePane() override;
    TWin32PicturePane(const TWin32PicturePane&) = delete;
    TWin32PicturePane& operator=(const TWin32PicturePane&) = delete;

    HWND Canvas() const { return FCanvas; }
    HWND LineLabel() const { return FLine; }
    void SetFont(HFONT font);
    // Places the canvas and the line, lineHeight high, in the rectangle given.
    void Place(int left, int top, int width, int height, int lineHeight);
    // Where the picture lies in the canvas; empty without one.
    RECT Placement() const;

    void SetVisible(bool visible) override;
    bool Visible() const override { return FVisible; }
    int ImageWidth() const override;
    int ImageHeight() const override;
    void ShowImage(const TRgbImage& image) override;
    void ClearImage() override;
    bool HasImage() const override { return FImage.Pixels != nullptr; }
    void SetLine(const std::string& text) override;
    std::string Line() const override;

    void Post(std::function<void()> task) override;
    // Zoomed, the picture is drawn sample by sample at that many pixels a pixel, and the
    // canvas scrolls over it where it is larger.
    void SetZoom(int zoom) override;
    // The pointer over the canvas, in the image's pixels, for the line's samples.
    void SetPointerListener(std::function<void(int x, int y)> listener) override {
        FPointer = std::move(listener);
    }

  private:
    static LRESULT CALLBACK CanvasProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void Paint(HDC dc) const;
    // The scroll bars' ranges for the zoomed picture in the canvas's area.
    void FitScrollBars();
    void Scroll(int bar, int request);
    void PointerAt(int x, int y);
    void RunPosted();

    HWND FCanvas;
    HWND FLine;
    bool FVisible = false;
    int FZoom = 0;
    std::function<void(int x, int y)> FPointer;
    TRgbImage FImage;
    std::mutex FLock;
    std::deque<std::function<void()>> FTasks;
};
