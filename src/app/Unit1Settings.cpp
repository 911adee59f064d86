#include "app/ListColumns.h"
#include "app/Unit1.h"

#include "app/WindowPlacement.h"
#include "core/Guard.h"
#include "update/NewVerCheck.h"

#include <algorithm>
#include <stdexcept>

// The window settings and the update check.

namespace {

constexpr const char* kSettingsKey = "Software\\Marvane\\Quillet";

template <class Widget> Widget& Present(Widget* widget) {
    if (widget == nullptr) {
        throw std::logic_error("widget missing");
    }
    return *widget;
}

IMainWindow& Window(const TForm1& form) {
    return Present(form.Widgets.Form1);
}

TScreenRect Bounds(const TForm1& form) {
    const IMainWindow& w = Window(form);
    return {w.Left(), w.Top(), w.Width(), w.Height()};
}

void SetBounds(const TForm1& form, const TScreenRect& r) {
    Window(form).SetBounds(r.Left, r.Top, r.Width, r.Height);
}

template <int TScreenRect::*Part> std::int32_t BoundsPart(const TForm1& form) {
    return Bounds(form).*Part;
}

template <int TScreenRect::*Part> void SetBoundsPart(TForm1& form, std::int32_t value) {
    TScreenRect r = Bounds(form);
    r.*Part = value;
    SetBounds(form, r);
}

template <int Column> std::int32_t ColumnWidth(const TForm1& form) {
    return Present(form.Widgets.ListView1).ColumnWidth(Column);
}

template <int Column> void SetColumnWidth(TForm1& form, std::int32_t width) {
    Present(form.Widgets.ListView1).SetColumnWidth(Column, width);
}

TWindowState ToWindowState(std::int32_t value) {
    switch (value) {
    case 1:
        return TWindowState::Minimized;
    case 2:
        return TWindowState::Maximized;
    default: // the window knows no other state
        return TWindowState::Normal;
    }
}

// One stored value: its name, where it comes from when saving and where it goes when
// loading.
struct TStoredValue {
    const char* Name;
    std::int32_t (*Source)(const TForm1& form);
    void (*Target)(TForm1& form, std::int32_t value);
};

// In the order of writing, and of reading and applying: the state after the bounds, so
// that a maximised window keeps its normal bounds; the update flag, then the decoding
// flag and the picture pane added after it, so that settings written before them still read
// the same.
const TStoredValue kStoredValues[] = {
    {"FormTop", BoundsPart<&TScreenRect::Top>, SetBoundsPart<&TScreenRect::Top>},
    {"FormLeft", BoundsPart<&TScreenRect::Left>, SetBoundsPart<&TScreenRect::Left>},
    {"FormHeight", BoundsPart<&TScreenRect::Height>, SetBoundsPart<&TScreenRect::Height>},
    {"FormWidth", BoundsPart<&TScreenRect::Width>, SetBoundsPart<&TScreenRect::Width>},
    {"OffsetColWidth", ColumnWidth<0>, SetColumnWidth<0>},
    {"LenColWidth", ColumnWidth<1>, SetColumnWidth<1>},
    {"StartCodeColWidth", ColumnWidth<2>, SetColumnWidth<2>},
    {"NALColWidth", ColumnWidth<3>, SetColumnWidth<3>},
    {"Panel2Width", [](const TForm1& f) { return Window(f).Panel2Width(); },
     [](TForm1& f, std::int32_t v) { Window(f).SetPanel2Width(v); }},
    {"WindowState", [](const TForm1& f) { return static_cast<std::int32_t>(Window(f).State()); },
     [](TForm1& f, std::int32_t v) { Window(f).SetState(ToWindowState(v)); }},
    {"CheckForUpdates", [](const TForm1& f) { return std::int32_t{f.CheckForUpdates ? 1 : 0}; },
     [](TForm1& f, std::int32_t v) { f.CheckForUpdates = v != 0; }},
    {"DecodeSliceHeaders",
     [](const TForm1& f) { return std::int32_t{f.DecodeSliceHeaders ? 1 : 0}; },
     [](TForm1& f, std::int32_t v) { f.DecodeSliceHeaders = v != 0; }},
    {"HexPaneHeight", [](const TForm1& f) { return Window(f).HexPaneHeight(); },
     [](TForm1& f, std::int32_t v) { Window(f).SetHexPaneHeight(v); }},
    {"ShowPicture", [](const TForm1& f) { return std::int32_t{f.ShowPicture ? 1 : 0}; },
     [](TForm1& f, std::int32_t v) { f.ShowPicture = v != 0; }},
};

// The Info column's values, kept after all the others.
const TStoredValue kInfoColumnValues[] = {
    {"UnitSummaryColumn", [](const TForm1& f) { return std::int32_t{f.ShowInfoColumn ? 1 : 0}; },
     [](TForm1& f, std::int32_t v) { f.ShowInfoColumn = v != 0; }},
    {"InfoColWidth", ColumnWidth<kInfoColumn>, SetColumnWidth<kInfoColumn>},
    // Came later still: what View > Overlay draws over the picture.
    {"PictureOverlay", [](const TForm1& f) { return static_cast<std::int32_t>(f.PictureOverlay); },
     [](TForm1& f, std::int32_t v) {
         f.PictureOverlay = static_cast<unsigned>(v) & ((1U << kOverlayItemCount) - 1);
     }},
    // And View > Zoom.
    {"PictureZoom", [](const TForm1& f) { return std::int32_t{f.PictureZoom}; },
     [](TForm1& f, std::int32_t v) { f.PictureZoom = std::clamp(v, 0, 2); }},
};

// Applies each stored value there is; a value that is missing, of another type or refused
// by its target is skipped, and the others still apply.
template <std::size_t N>
void LoadValues(TForm1& form, ISettingsKey& key, const TStoredValue (&values)[N]) {
    for (const auto& stored : values) {
        try {
            if (const auto value = key.ReadDword(stored.Name)) {
                stored.Target(form, *value);
            }
        } catch (...) {
        }
    }
}

// The text values, after the numbers: the open dialog's folder, then the recent files,
// most recent first. Every name is written, empty when unused, so that no stale file
// of an earlier, longer list comes back.
std::string RecentFileName(std::size_t index) {
    return "RecentFile" + std::to_string(index + 1);
}

void LoadTexts(TForm1& form, ISettingsKey& key) {
    if (const auto folder = key.ReadString("OpenFolder")) {
        form.OpenFolder = *folder;
    }
    form.RecentFiles.clear();
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        const auto path = key.ReadString(RecentFileName(i));
        if (path && !path->empty() &&
            std::find(form.RecentFiles.begin(), form.RecentFiles.end(), *path) ==
                form.RecentFiles.end()) {
            form.RecentFiles.push_back(*path);
        }
    }
}

void SaveTexts(const TForm1& form, ISettingsKey& key) {
    key.WriteString("OpenFolder", form.OpenFolder);
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        key.WriteString(RecentFileName(i), i < form.RecentFiles.size() ? form.RecentFiles[i] : "");
    }
}

} // namespace

void TForm1::FitListPane(int windowWidth) {
    // The list pane as wide as its columns, the Info column's too, while the tree keeps two
    // fifths of the window for its values; where that is too narrow, the NAL Type and Start
    // Code columns give way (their cut cells tell their text on hovering).
    IReportList& list = *Widgets.ListView1;
    constexpr int kBarAndFrame = 24;
    int columns = 0;
    for (int i = 0; i <= kInfoColumn; ++i) {
        columns += list.ColumnWidth(i);
    }
    const int pane = std::min(columns + kBarAndFrame, windowWidth * 3 / 5);
    int over = columns + kBarAndFrame - pane;
    for (const int column : kYieldingColumns) {
        const int width = list.ColumnWidth(column);
        const int narrower = std::max(width - over, width / 3);
        if (over > 0) {
            list.SetColumnWidth(column, narrower);
            over -= width - narrower;
        }
    }
    Widgets.Form1->SetPanel2Width(pane);
}

void TForm1::LoadRegistrySettings() {
    GuardVoid("TForm1.LoadRegistrySettings", [&] {
        // Without a store there is nothing to read, as with a key that cannot be opened.
        const auto key =
            Widgets.Registry ? Widgets.Registry->OpenKey(kSettingsKey, false) : nullptr;
        if (!key) {
            // A first run: a window as large as the screen allows, up to what shows every
            // column and the tree's values.
            if (Widgets.Registry && Widgets.Monitors && Widgets.Form1) {
                const std::vector<TScreenRect> areas = Widgets.Monitors->WorkAreas();
                if (!areas.empty()) {
                    const TScreenRect bounds = FirstRunBounds(areas.front());
                    SetBounds(*this, bounds);
                    if (Widgets.ListView1) {
                        FitListPane(bounds.Width);
                    }
                }
            }
            return;
        }
        LoadValues(*this, *key, kStoredValues);
        try {
            LoadTexts(*this, *key);
        } catch (...) {
        }
        LoadValues(*this, *key, kInfoColumnValues);
        ShowRecentFiles();
        // A window stored on a screen that is gone comes back where it can be reached.
        if (Widgets.Monitors && Widgets.Form1) {
            const TScreenRect bounds = Bounds(*this);
            const TScreenRect placed = PlaceOnScreen(bounds, Widgets.Monitors->WorkAreas());
            if (!(placed == bounds)) {
                SetBounds(*this, placed);
            }
        }
    });
}

void TForm1::SaveRegistrySettings() {
    GuardVoid("TForm1.SaveRegistrySettings", [&] {
        const auto key = Widgets.Registry ? Widgets.Registry->OpenKey(kSettingsKey, true) : nullptr;
        if (!key) {
            return;
        }
        // A failed write ends the saving; what was written before it stays.
        for (const auto& stored : kStoredValues) {
            key->WriteDword(stored.Name, stored.Source(*this));
        }
        SaveTexts(*this, *key);
        for (const auto& stored : kInfoColumnValues) {
            key->WriteDword(stored.Name, stored.Source(*this));
        }
    });
}

void TForm1::CheckForUpdates1Click() {
    CheckForUpdates = !CheckForUpdates;
    if (Widgets.CheckForUpdates1) {
        Widgets.CheckForUpdates1->SetChecked(CheckForUpdates);
    }
}

void TForm1::DecodeSliceHeaders1Click() {
    GuardVoid("TForm1.DecodeSliceHeaders1Click", [&] {
        DecodeSliceHeaders = !DecodeSliceHeaders;
        if (Widgets.DecodeSliceHeaders1) {
            Widgets.DecodeSliceHeaders1->SetChecked(DecodeSliceHeaders);
        }
        if (Stream && Widgets.ListView1) {
            ShowSelectedRow();
        }
    });
}

void TForm1::tmUpdateTimer() {
    GuardVoid("TForm1.tmUpdateTimer", [&] {
        // First, so that the check runs at most once, even while it waits or asks.
        Present(Widgets.tmUpdate).SetEnabled(false);
        OfferUpdate(Present(Widgets.Http), Present(Widgets.Dialogs), Present(Widgets.Browser));
    });
}
