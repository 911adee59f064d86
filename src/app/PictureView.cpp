#include "app/PictureView.h"

#include "core/Guard.h"
#include "decode/Overlay.h"
#include "decode/PictureWorker.h"
#include "stream/H264Utils.h"

TPictureView::TPictureView(IPicturePane& pane, IUiThread& ui, int decoderThreads)
    : FPane(pane), FUi(ui) {
    std::weak_ptr<int> alive = FAlive;
    FWorker = std::make_unique<TPictureWorker>(
        [this, alive] {
            FUi.Post([this, alive] {
                if (alive.lock()) {
                    Deliver();
                }
            });
        },
        decoderThreads);
    FPane.SetPointerListener([this](int x, int y) { PointerAt(x, y); });
}

TPictureView::~TPictureView() {
    FAlive.reset();
    FPane.SetPointerListener(nullptr);
    FWorker.reset();
}

void TPictureView::SetShown(bool shown) {
    FShown = shown;
    FPane.SetVisible(shown);
    if (!shown) {
        FWorker->Cancel();
    } else if (FOffset >= 0) {
        Ask();
    }
}

void TPictureView::Select(const std::string& path, std::int64_t offset) {
    FPath = path;
    FOffset = offset;
    if (FShown) {
        Ask();
    }
}

void TPictureView::Forget() {
    FPath.clear();
    FOffset = -1;
    FWorker->Forget();
    KeepForOverlay(TPicture{}, TRgbImage{}, "");
    FPane.ClearImage();
    FPane.SetLine("");
}

void TPictureView::Ask() {
    if (!DecoderBuilt()) {
        FPane.SetLine(kBuiltWithoutDecoder);
        return;
    }
    // The picture shown stays until the new one replaces it; the line says what is coming.
    FPane.SetLine("Decoding the picture of the unit at " + NalOffsetText(FOffset) + " ...");
    // Zoomed, the picture comes at full size, which the pane scales by the zoom.
    const bool fit = FZoom == kZoomFit;
    FWorker->Request(FPath, FOffset, fit ? FPane.ImageWidth() : 0, fit ? FPane.ImageHeight() : 0,
                     FOverlay != 0);
}

// Runs from the toolkit's event loop, which must never see an exception.
void TPictureView::Deliver() {
    GuardVoid("TPictureView.Deliver", [&] {
        std::optional<TPictureResult> result = FWorker->Take();
        if (!result) {
            // Still on its way: how far it got.
            if (const std::optional<std::string> progress = FWorker->TakeProgress();
                progress && FShown) {
                FPane.SetLine(*progress);
            }
            return;
        }
        if (!FShown || result->Path != FPath || result->Offset != FOffset) {
            return;
        }
        TRgbPixels& rgb = result->Rgb;
        if (rgb.Pixels.empty()) {
            KeepForOverlay(TPicture{}, TRgbImage{}, result->Line);
            FPane.ClearImage();
        } else {
            KeepForOverlay(std::move(result->Answer.Decoded.Picture),
                           TRgbImage{rgb.Width, rgb.Height,
                                     std::make_shared<const std::vector<std::uint32_t>>(
                                         std::move(rgb.Pixels))},
                           result->Line);
            ShowWithOverlay();
        }
        FPane.SetLine(result->Line);
    });
}

void TPictureView::SetOverlay(unsigned items) {
    FOverlay = items;
    // A picture decoded without its macroblocks is asked for again with them.
    if (items != 0 && FBase.Pixels && !FMap && FShown && FOffset >= 0) {
        Ask();
        return;
    }
    if (FBase.Pixels) {
        ShowWithOverlay();
        FPane.SetLine(FLine);
    }
}

void TPictureView::KeepForOverlay(TPicture picture, TRgbImage image, const std::string& line) {
    FBase = std::move(image);
    FMap = picture.Macroblocks;
    FPicture = std::make_shared<const TPicture>(std::move(picture));
    FLine = line;
}

void TPictureView::SetZoom(int zoom) {
    const bool refit = (zoom == kZoomFit) != (FZoom == kZoomFit);
    FZoom = zoom;
    FPane.SetZoom(zoom);
    // Between fitted and full size the picture is asked for again; 1:1 and 2:1 share one.
    if (refit && FShown && FOffset >= 0 && FBase.Pixels) {
        Ask();
    }
}

std::string SampleText(const TPicture& picture, int x, int y) {
    if (x < 0 || y < 0 || x >= picture.Width || y >= picture.Height) {
        return {};
    }
    static constexpr const char* kYcc[] = {"Y", "Cb", "Cr"};
    static constexpr const char* kGbr[] = {"G", "B", "R"};
    std::string text;
    for (int plane = 0; plane < picture.PlaneCount(); ++plane) {
        const int width = picture.PlaneWidth(plane);
        const int px = static_cast<int>(std::int64_t{x} * width / picture.Width);
        const int py =
            static_cast<int>(std::int64_t{y} * picture.PlaneHeight(plane) / picture.Height);
        const std::size_t at = (static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                                static_cast<std::size_t>(px)) *
                               static_cast<std::size_t>(picture.BytesPerSample());
        const std::vector<std::uint8_t>& samples = picture.Planes[static_cast<std::size_t>(plane)];
        if (at + static_cast<std::size_t>(picture.BytesPerSample()) > samples.size()) {
            return {};
        }
        const int value =
            picture.BytesPerSample() == 1 ? samples[at] : samples[at] | samples[at + 1] << 8;
        text += std::string(text.empty() ? "" : " ") + (picture.Rgb ? kGbr : kYcc)[plane] + ' ' +
                std::to_string(value);
    }
    return text;
}

void TPictureView::ShowWithOverlay() {
    if (!FBase.Pixels) {
        return;
    }
    if (FOverlay == 0 || !FMap) {
        FPane.ShowImage(FBase);
        return;
    }
    TRgbPixels drawn{FBase.Width, FBase.Height, *FBase.Pixels};
    DrawOverlay(*FMap, FOverlay, FPicture->Width, FPicture->Height, drawn);
    FPane.ShowImage(
        TRgbImage{drawn.Width, drawn.Height,
                  std::make_shared<const std::vector<std::uint32_t>>(std::move(drawn.Pixels))});
}

void TPictureView::PointerAt(int x, int y) {
    GuardVoid("TPictureView.PointerAt", [&] {
        if (!FPicture || FBase.Width <= 0 || FBase.Height <= 0) {
            return;
        }
        if (x < 0 || y < 0) {
            FPane.SetLine(FLine);
            return;
        }
        // The image may be scaled, and stretched by the samples' shape: back to the picture's.
        const int px = static_cast<int>(std::int64_t{x} * FPicture->Width / FBase.Width);
        const int py = static_cast<int>(std::int64_t{y} * FPicture->Height / FBase.Height);
        const std::string samples = SampleText(*FPicture, px, py);
        if (samples.empty()) {
            FPane.SetLine(FLine);
            return;
        }
        // Without the overlay's map, the macroblock's place in raster order, as the map
        // counts it.
        std::string mb = FOverlay != 0 && FMap ? MacroblockText(*FMap, px, py) : std::string();
        if (mb.empty()) {
            const int widthMbs = (FPicture->Width + 15) / 16;
            mb = "MB " + std::to_string(py / 16 * widthMbs + px / 16) + " (x " +
                 std::to_string(px / 16) + ", y " + std::to_string(py / 16) + ")";
        }
        FPane.SetLine(FLine + "  |  " + std::to_string(px) + ", " + std::to_string(py) + ": " +
                      samples + "  |  " + mb);
    });
}
