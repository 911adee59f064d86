#pragma once

// The picture pane and the way back to the user-interface thread: what the picture view
// of the window logic relies on, realised by src/qt/ and by the fakes of the tests.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A picture to show: Width x Height square pixels 0xFFRRGGBB, row after row.
struct TRgbImage {
    int Width = 0;
    int Height = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> Pixels;
};

// The pane that shows the selected unit's picture, scaled to fit, with a line under it.
class IPicturePane {
  public:
    virtual ~IPicturePane() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    // The area a picture is shown in, in pixels; 0 x 0 when it has no size yet.
    virtual int ImageWidth() const = 0;
    virtual int ImageHeight() const = 0;
    virtual void ShowImage(const TRgbImage& image) = 0;
    virtual void ClearImage() = 0;
    virtual bool HasImage() const = 0;
    virtual void SetLine(const std::string& text) = 0;
    virtual std::string Line() const = 0;
    // Told, on the user-interface thread, where the pointer is over the picture in the
    // image's pixels, and -1, -1 when it leaves; a pane without a pointer never tells.
    virtual void SetPointerListener(std::function<void(int x, int y)> listener) {
        static_cast<void>(listener);
    }
    // How the picture is drawn: 0 fitted to the area, 1 or 2 at that many pixels a pixel of
    // the image, scrolled where larger than the area. A pane without zoom always fits.
    virtual void SetZoom(int zoom) { (void)zoom; }
    // Left and Right (and the wheel with Ctrl): -1 for the previous picture, +1 for the next.
    virtual void SetStepHandler(std::function<void(int direction)> handler) { (void)handler; }
};

// Runs tasks on the user-interface thread, in the order posted; Post may be called from any
// thread.
class IUiThread {
  public:
    virtual ~IUiThread() = default;
    virtual void Post(std::function<void()> task) = 0;
};
