#pragma once

// The picture pane's logic, free of any widget toolkit: the selected unit's picture is asked
// of a worker thread and shown when it comes, unless another unit was selected meanwhile.
// Both front ends use it through IPicturePane and IUiThread.

#include "decode/PictureDecoder.h"
#include "toolkit/PicturePane.h"

#include <cstdint>
#include <memory>
#include <string>

class TPictureWorker;

// View > Zoom's choices, in the menu's order.
inline constexpr int kZoomFit = 0;
inline constexpr int kZoomCount = 3;
inline constexpr const char* kZoomItems[kZoomCount] = {"&Fit", "&1:1", "&2:1"};

// The samples at picture pixel (x, y), at the stream's bit depth, chroma from its subsampled
// planes: "Y 235 Cb 128 Cr 128" ("G B R" for a picture of RGB planes, Y alone without
// chroma); empty outside the picture or without samples.
std::string SampleText(const TPicture& picture, int x, int y);

class TPictureView {
  public:
    TPictureView(IPicturePane& pane, IUiThread& ui, int decoderThreads = 0);
    // Gives up the decoding under way and waits for the worker to stop.
    ~TPictureView();
    TPictureView(const TPictureView&) = delete;
    TPictureView& operator=(const TPictureView&) = delete;

    // Shows or hides the pane; shown, it shows the selected unit's picture.
    void SetShown(bool shown);
    // The unit at offset of the file at path is selected now.
    void Select(const std::string& path, std::int64_t offset);
    // The file is closed: nothing is selected, and the worker lets go of it.
    void Forget();

    // View > Overlay: the items (TOverlayItem bits) drawn over the picture; with any, the
    // picture comes with its macroblocks and the line names the one under the pointer.
    void SetOverlay(unsigned items);
    unsigned Overlay() const { return FOverlay; }
    // View > Zoom: the picture fitted to the pane (kZoomFit) or at 1:1 or 2:1, asked for
    // again at full size when it was fitted.
    void SetZoom(int zoom);

  private:
    void Ask();
    void Deliver();
    // The overlay's part: the picture as shown with its items drawn, and the pointer line.
    void KeepForOverlay(TPicture picture, TRgbImage image, const std::string& line);
    void ShowWithOverlay();
    void PointerAt(int x, int y);

    IPicturePane& FPane;
    IUiThread& FUi;
    bool FShown = false;
    std::string FPath;
    std::int64_t FOffset = -1;
    unsigned FOverlay = 0;
    int FZoom = 0;
    TRgbImage FBase; // the picture as decoded, without the overlay
    // Its samples, for the pointer line, and its macroblocks, for the overlay.
    std::shared_ptr<const TPicture> FPicture;
    std::shared_ptr<const TMacroblockMap> FMap;
    std::string FLine; // the picture's facts, before any pointer line
    // Lives as long as the view: a result posted to the user-interface thread after the
    // view is gone finds it expired.
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);
    // Last, so that it stops first.
    std::unique_ptr<TPictureWorker> FWorker;
};
