#include "app/PictureView.h"
#include "app/Unit1.h"
#include "core/Guard.h"

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

void TForm1::ApplyPictureSetting() {
    if (Widgets.Picture1) {
        Widgets.Picture1->SetChecked(ShowPicture);
    }
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
