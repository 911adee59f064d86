#include "app/PictureView.h"
#include "app/Unit1.h"
#include "core/Guard.h"

#include <algorithm>

// View > Picture: the decoded picture of the selected unit's access unit.

TPictureView* TForm1::PictureView() {
    if (!FPictureView && Widgets.PicturePane && Widgets.UiThread) {
        FPictureView = std::make_unique<TPictureView>(*Widgets.PicturePane, *Widgets.UiThread);
        Widgets.PicturePane->SetStepHandler([this](int direction) { PictureStep(direction); });
    }
    return FPictureView.get();
}

void TForm1::Picture1Click() {
    GuardVoid("TForm1.Picture1Click", [&] {
        ShowPicture = !ShowPicture;
        ApplyPictureSetting();
    });
}

void TForm1::OverlayClick(unsigned item) {
    GuardVoid("TForm1.OverlayClick", [&] {
        PictureOverlay ^= item;
        ApplyOverlaySetting();
    });
}

void TForm1::ZoomClick(int zoom) {
    GuardVoid("TForm1.ZoomClick", [&] {
        PictureZoom = zoom;
        ApplyZoomSetting();
    });
}

void TForm1::ApplyZoomSetting() {
    PictureZoom = std::clamp(PictureZoom, 0, kZoomCount - 1);
    for (int i = 0; i < kZoomCount; ++i) {
        if (IMenuCheck* check = Widgets.ZoomItems[static_cast<std::size_t>(i)]) {
            check->SetChecked(i == PictureZoom);
        }
    }
    if (TPictureView* view = PictureView()) {
        view->SetZoom(PictureZoom);
    }
}

void TForm1::ApplyOverlaySetting() {
    for (std::size_t i = 0; i < kOverlayItemCount; ++i) {
        if (IMenuCheck* check = Widgets.OverlayItems[i]) {
            check->SetChecked((PictureOverlay & kOverlayItems[i].Item) != 0);
        }
    }
    if (TPictureView* view = PictureView()) {
        view->SetOverlay(PictureOverlay);
    }
}

void TForm1::ApplyPictureSetting() {
    if (Widgets.Picture1) {
        Widgets.Picture1->SetChecked(ShowPicture);
    }
    // The overlay and the zoom first, so that the picture shown next is asked for with them.
    ApplyOverlaySetting();
    ApplyZoomSetting();
    if (TPictureView* view = PictureView()) {
        view->SetShown(ShowPicture);
    }
}

void TForm1::ShowPictureOf(std::int64_t offset) {
    if (TPictureView* view = PictureView()) {
        if (offset < 0) {
            view->Forget();
        } else {
            view->Select(FileName, offset);
        }
    }
}
