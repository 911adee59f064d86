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
    FWorker->Request(FPath, FOffset, FPane.ImageWidth(), FPane.ImageHeight(), FOverlay != 0);
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
            KeepForOverlay(result->Answer.Decoded.Picture,
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

void TPictureView::KeepForOverlay(const TPicture& picture, TRgbImage image,
                                  const std::string& line) {
    FBase = std::move(image);
    FMap = picture.Macroblocks;
    FPictureWidth = picture.Width;
    FPictureHeight = picture.Height;
    FLine = line;
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
    DrawOverlay(*FMap, FOverlay, FPictureWidth, FPictureHeight, drawn);
    FPane.ShowImage(
        TRgbImage{drawn.Width, drawn.Height,
                  std::make_shared<const std::vector<std::uint32_t>>(std::move(drawn.Pixels))});
}

void TPictureView::PointerAt(int x, int y) {
    GuardVoid("TPictureView.PointerAt", [&] {
        if (FOverlay == 0 || !FMap || FBase.Width <= 0 || FBase.Height <= 0) {
            return;
        }
        const std::string mb =
            x < 0
                ? std::string()
                : MacroblockText(*FMap,
                                 static_cast<int>(std::int64_t{x} * FPictureWidth / FBase.Width),
                                 static_cast<int>(std::int64_t{y} * FPictureHeight / FBase.Height));
        FPane.SetLine(mb.empty() ? FLine : FLine + "  |  " + mb);
    });
}
