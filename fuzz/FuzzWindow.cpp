// The window as a user drives it: an arbitrary file, then an arbitrary run of keys, bar
// presses, thumb drags, wheel notches, resizes and row selections applied to the window
// logic over the recording fakes. After every step the page must be consecutive units of
// the file as a plain byte walk finds them, moved where the step asked, and the tree and
// the hex view those of the selected row.
//
// Input: one byte n (actions, at most 32), 2 n bytes of actions, then the file's bytes.

#include "app/Unit1.h"
#include "core/DebugOutput.h"
#include "support/FakeWindow.h"
#include "support/NavigationOracle.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Window : TFakeWindow {
    Window() : TFakeWindow(4, 3) {}
};

// Names the invariant that broke, so that a finding reads at once.
void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

void CheckPage(Window& w, const std::vector<std::uint8_t>& file) {
    const auto size = static_cast<std::int64_t>(file.size());
    Check(w.list.Count == w.form->LocatorCount, "row count follows the table");
    Check(w.form->LocatorCount <= std::max(w.form->RowCapacity, 1), "one page at most");
    for (int i = 0; i < w.form->LocatorCount; ++i) {
        const TNalUnitLocator& l = w.form->Locators[static_cast<std::size_t>(i)];
        Check(l.Offset >= 0 && l.Offset < size, "row inside the file");
        Check(StartCodeLength(file.data() + l.Offset, size - l.Offset) != 0, "row is a start code");
        Check(l.Len > 0 && l.Offset + l.Len <= size, "row length inside the file");
        if (i > 0) {
            Check(w.form->Locators[static_cast<std::size_t>(i - 1)].Offset < l.Offset,
                  "rows ascend");
        }
    }
}

void CheckSelection(Window& w) {
    const int selected = w.list.Selected;
    // A row past the page's capacity (a list too short for one row) has no texts and
    // shows nothing.
    if (selected < 0 || selected >= w.form->LocatorCount || selected >= w.form->RowCapacity) {
        return;
    }
    const TNalUnitLocator& l = w.form->Locators[static_cast<std::size_t>(selected)];
    Check(w.form->HexView->CurrentPos() == l.Offset, "hex view at the selected row");
    Check(w.hex.Lines.empty() ||
              w.hex.Lines[0].substr(0, 18) == NalOffsetText(l.Offset - l.Offset % 16),
          "hex lines from the selected row");
    Check(w.tree.Roots().empty() || w.tree.Roots()[0]->Text == "NAL", "tree of a NAL unit");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Window* w = [] {
        SetDebugSink([](std::string_view) {});
        return new Window();
    }();
    static const std::string path = "/tmp/quillet-fuzz-window-" + std::to_string(getpid());
    if (size < 1) {
        return 0;
    }
    const std::size_t actions = std::min<std::size_t>(data[0], 32);
    if (size < 1 + 2 * actions) {
        return 0;
    }
    const std::vector<std::uint8_t> file(data + 1 + 2 * actions, data + size);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    w->list.Rows = 4;
    w->form->UnloadFile();
    if (!w->form->LoadFile(path)) {
        Check(w->form->FileName.empty() && w->list.Count == 0, "a rejected file leaves nothing");
        return 0;
    }
    CheckPage(*w, file);
    TNavigationOracle oracle(OracleUnitsOfFile(path), [](const std::string& what) {
        std::fprintf(stderr, "broken: %s\n", what.c_str());
        std::abort();
    });
    for (std::size_t i = 0; i < actions; ++i) {
        const std::uint8_t kind = data[1 + 2 * i];
        const std::uint8_t arg = data[2 + 2 * i];
        if (kind % 16 == 15) {
            if (w->list.Count > 0) {
                w->list.Selected = arg % w->list.Count;
                w->form->ListView1MouseDown();
            }
            CheckSelection(*w);
        } else {
            oracle.Step(*w, static_cast<TUserStep>(kind % 14), static_cast<std::uint32_t>(arg) * 4);
        }
        CheckPage(*w, file);
        Check(!w->cursor.Busy, "cursor restored");
    }
    return 0;
}
