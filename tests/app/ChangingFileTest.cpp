// The viewer lets other programs write the file it shows. Whatever they do to it, every
// step must go on safely and show what the file now holds, or nothing.

#include "app/Unit1.h"
#include "support/FakeWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

struct Window : TFakeWindow {
    Window() : TFakeWindow(6, 4) {}
};

// Every row of the page is a start code in the file as it is now, within it.
void ExpectRowsInFile(Window& w, const std::string& path, const std::string& when) {
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    for (int i = 0; i < w.form->LocatorCount; ++i) {
        const TNalUnitLocator& l = w.form->Locators[static_cast<std::size_t>(i)];
        ASSERT_LT(l.Offset, static_cast<std::int64_t>(bytes.size())) << when << " row " << i;
        EXPECT_NE(StartCodeLength(bytes.data() + l.Offset,
                                  static_cast<std::int64_t>(bytes.size()) - l.Offset),
                  0)
            << when << " row " << i;
        EXPECT_LE(l.Offset + l.Len, static_cast<std::int64_t>(bytes.size())) << when;
    }
}

TEST(ChangingFile, EveryStepStaysSafeAndShowsWhatTheFileHolds) {
    const std::vector<std::uint8_t> original = ReadAll(TestDataPath("aud_sei.264"));
    const std::vector<std::uint8_t> other = ReadAll(TestDataPath("main_cabac.264"));
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> change;
    };
    const auto truncateTo = [](std::uintmax_t size) {
        return [size](const std::string& path) { std::filesystem::resize_file(path, size); };
    };
    std::vector<Case> cases = {
        {"truncated below the window", truncateTo(3000)},
        {"truncated inside the window", truncateTo(9000)},
        {"emptied", truncateTo(0)},
        {"grown",
         [&](const std::string& path) {
             std::ofstream(path, std::ios::binary | std::ios::app)
                 .write(reinterpret_cast<const char*>(other.data()),
                        static_cast<std::streamsize>(other.size()));
         }},
    };
#ifndef _WIN32
    // Windows refuses to put another file in the place of one that is open.
    cases.push_back({"replaced by another file", [&](const std::string& path) {
                         const std::string next = path + ".new";
                         std::ofstream(next, std::ios::binary)
                             .write(reinterpret_cast<const char*>(other.data()),
                                    static_cast<std::streamsize>(other.size()));
                         std::filesystem::rename(next, path);
                     }});
#endif
    const int steps[] = {Key::Up, Key::Down, Key::PageUp, Key::PageDown, Key::End, Key::Home};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write("s.264", original);
        Window w;
        ASSERT_TRUE(w.form->LoadFile(path)) << c.name;
        w.list.PressKey(Key::End); // the last page, past the cuts
        c.change(path);
        // The handle still reads the old file when another took its name.
        const std::string now = std::string(c.name) == "replaced by another file"
                                    ? dir.Write("old.264", original)
                                    : path;
        for (const int key : steps) {
            if (w.list.Selected < 0 && w.list.Count > 0) {
                w.list.Selected = 0;
            }
            w.list.PressKey(key);
            ExpectRowsInFile(w, now, std::string(c.name) + " key " + std::to_string(key));
        }
        w.bar1.PressTo(w.bar1.Max);
        ExpectRowsInFile(w, now, std::string(c.name) + " thumb");
        w.bar1.PressTo(w.bar1.Max / 2);
        ExpectRowsInFile(w, now, std::string(c.name) + " thumb");
        w.form->UpdatePack(5000);
        w.form->HexView->FListBoxKeyDown(Key::End);
        EXPECT_FALSE(w.cursor.Busy) << c.name;
    }
}

} // namespace
