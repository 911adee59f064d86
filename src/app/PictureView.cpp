#include "app/PictureView.h"

#include "core/Guard.h"
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
}

TPictureView::~TPictureView() {
    FAlive.reset();
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
    FWorker->Request(FPath, FOffset, FPane.ImageWidth(), FPane.ImageHeight());
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
            FPane.ClearImage();
        } else {
            FPane.ShowImage(TRgbImage{
                rgb.Width, rgb.Height,
                std::make_shared<const std::vector<std::uint32_t>>(std::move(rgb.Pixels))});
        }
        FPane.SetLine(result->Line);
    });
}
