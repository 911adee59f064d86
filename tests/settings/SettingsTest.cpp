#include "app/Unit1.h"
#include "app/WindowPlacement.h"
#include "qt/services/QtSettingsStore.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>

namespace {

using Lines = std::vector<std::string>;
using Stored = std::map<std::string, std::string>;

// What the window shows of the settings.
struct TLayout {
    TScreenRect Bounds{111, 77, 958, 653};
    std::vector<int> Columns{120, 70, 170, 250, 250};
    int Panel2 = 700;
    TWindowState State = TWindowState::Normal;
    bool Flag = true;
    bool Decode = false; // View > Decode Slice Headers and SEI
    int HexPane = 210;
    bool Info = true;     // View > Unit Summary Column
    bool Picture = false; // View > Picture
    unsigned Overlay = 0; // View > Overlay's items
    int Zoom = 0;         // View > Zoom
    bool operator==(const TLayout&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TLayout& l) {
    out << l.Bounds.Left << "," << l.Bounds.Top << " " << l.Bounds.Width << "x" << l.Bounds.Height
        << " columns";
    for (const int c : l.Columns) {
        out << " " << c;
    }
    return out << " panel " << l.Panel2 << " state " << static_cast<int>(l.State) << " flag "
               << l.Flag << " decode " << l.Decode << " hex " << l.HexPane << " info " << l.Info
               << " picture " << l.Picture << " overlay " << l.Overlay << " zoom " << l.Zoom;
}

// The values a layout is stored as.
Stored AsStored(const TLayout& l) {
    return {
        {"FormTop", std::to_string(l.Bounds.Top)},
        {"FormLeft", std::to_string(l.Bounds.Left)},
        {"FormHeight", std::to_string(l.Bounds.Height)},
        {"FormWidth", std::to_string(l.Bounds.Width)},
        {"OffsetColWidth", std::to_string(l.Columns[0])},
        {"LenColWidth", std::to_string(l.Columns[1])},
        {"StartCodeColWidth", std::to_string(l.Columns[2])},
        {"NALColWidth", std::to_string(l.Columns[3])},
        {"Panel2Width", std::to_string(l.Panel2)},
        {"WindowState", std::to_string(static_cast<int>(l.State))},
        {"CheckForUpdates", l.Flag ? "1" : "0"},
        {"DecodeSliceHeaders", l.Decode ? "1" : "0"},
        {"HexPaneHeight", std::to_string(l.HexPane)},
        {"ShowPicture", l.Picture ? "1" : "0"},
        {"OpenFolder", ""},
        {"RecentFile1", ""},
        {"RecentFile2", ""},
        {"RecentFile3", ""},
        {"RecentFile4", ""},
        {"RecentFile5", ""},
        {"RecentFile6", ""},
        {"RecentFile7", ""},
        {"RecentFile8", ""},
        {"UnitSummaryColumn", l.Info ? "1" : "0"},
        {"InfoColWidth", std::to_string(l.Columns[4])},
        {"PictureOverlay", std::to_string(l.Overlay)},
        {"PictureZoom", std::to_string(l.Zoom)},
    };
}

// The name=value lines of an INI file, whatever its section.
Stored ReadIni(const std::filesystem::path& path) {
    Stored values;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return values;
}

// A window over fakes with the real settings store, in a configuration folder of its own.
struct SettingsRig {
    TempDir config;
    std::filesystem::path iniFile = config.Path() / "Marvane" / "Quillet.ini";
    FakeReportList list;
    FakeScrollBar bar;
    FakeMainWindow window;
    FakeMenuCheck mark;
    FakeMenuCheck viewMark;
    FakeMenuCheck infoMark;
    FakeTimer timer;
    FakeMonitors monitors;
    TQtSettingsStore registry;

    SettingsRig() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(config.Path().string()));
        list.Widths = {120, 70, 170, 250, 250};
        monitors.Areas = {{0, 0, 1920, 1040}};
    }
    void Store(const std::string& iniText) const {
        std::filesystem::create_directories(iniFile.parent_path());
        std::ofstream(iniFile) << iniText;
    }
    TForm1Widgets Widgets() {
        TForm1Widgets w;
        w.ListView1 = &list;
        w.ScrollBar1 = &bar;
        w.Form1 = &window;
        w.CheckForUpdates1 = &mark;
        w.DecodeSliceHeaders1 = &viewMark;
        w.UnitSummaryColumn1 = &infoMark;
        w.tmUpdate = &timer;
        w.Registry = &registry;
        w.Monitors = &monitors;
        return w;
    }
    TLayout Shown(const TForm1& form) const {
        return {{window.L, window.T, window.W, window.H},
                list.Widths,
                window.Panel2,
                window.WindowState,
                form.CheckForUpdates,
                form.DecodeSliceHeaders,
                window.HexPane,
                form.ShowInfoColumn,
                form.ShowPicture,
                form.PictureOverlay,
                form.PictureZoom};
    }
};

TEST(WindowSettings, StartupAppliesAndShutdownStoresTheSettings) {
    struct Case {
        const char* name;
        std::optional<std::string> ini; // none: no key at all
        std::function<void(TLayout&)> expect;
        std::function<void(TForm1&)> whileRunning = [](TForm1&) {};
    };
    const Case cases[] = {
        // The list pane takes three fifths of it, so that the Info column shows too.
        {"first run: as large as the screen allows, up to 1400 x 900", std::nullopt,
         [](TLayout& l) {
             l.Bounds = {260, 70, 1400, 900};
             l.Panel2 = 840;
         }},
        {"the hex pane's height", "[General]\nHexPaneHeight=333\n",
         [](TLayout& l) { l.HexPane = 333; }},
        {"only the flag, off", "[General]\nCheckForUpdates=0\n",
         [](TLayout& l) { l.Flag = false; }},
        {"every value",
         "[General]\nFormTop=10\nFormLeft=20\nFormHeight=500\nFormWidth=800\nOffsetColWidth=1\n"
         "LenColWidth=2\nStartCodeColWidth=3\nNALColWidth=4\nPanel2Width=300\nWindowState=1\n"
         "CheckForUpdates=1\n",
         [](TLayout& l) {
             l = {{20, 10, 800, 500},
                  {1, 2, 3, 4, 250},
                  300,
                  TWindowState::Minimized,
                  true,
                  false,
                  210};
         }},
        {"text where a number belongs",
         "[General]\nFormLeft=200\nFormWidth=wide\nNALColWidth=99\nCheckForUpdates=0\n",
         [](TLayout& l) {
             l.Bounds.Left = 200;
             l.Columns[3] = 99;
             l.Flag = false;
         }},
        {"flag stored as 5", "[General]\nCheckForUpdates=5\n", [](TLayout&) {}},
        {"maximised", "[General]\nWindowState=2\n",
         [](TLayout& l) { l.State = TWindowState::Maximized; }},
        {"unknown state", "[General]\nWindowState=7\n", [](TLayout&) {}},
        {"negative position, partly on the screen", "[General]\nFormLeft=-900\n",
         [](TLayout& l) { l.Bounds.Left = -900; }},
        {"off every screen", "[General]\nFormLeft=-3000\nFormTop=2000\n",
         [](TLayout& l) {
             l.Bounds.Left = 0;
             l.Bounds.Top = 1040 - 653;
         }},
        {"off every screen and larger than the primary",
         "[General]\nFormLeft=5000\nFormWidth=2500\nFormHeight=1200\n",
         [](TLayout& l) {
             l.Bounds = {0, 0, 1920, 1040};
         }},
        {"menu toggled while running", std::nullopt,
         [](TLayout& l) {
             l.Bounds = {260, 70, 1400, 900};
             l.Panel2 = 840;
             l.Flag = false;
         },
         [](TForm1& form) { form.CheckForUpdates1Click(); }},
        {"decoding on", "[General]\nDecodeSliceHeaders=1\n", [](TLayout& l) { l.Decode = true; }},
        {"decoding stored as 0 with the rest",
         "[General]\nCheckForUpdates=0\nDecodeSliceHeaders=0\n",
         [](TLayout& l) { l.Flag = false; }},
        {"decoding turned on while running", "[General]\nCheckForUpdates=1\n",
         [](TLayout& l) { l.Decode = true; },
         [](TForm1& form) { form.DecodeSliceHeaders1Click(); }},
        {"Info column hidden, its width kept", "[General]\nUnitSummaryColumn=0\nInfoColWidth=420\n",
         [](TLayout& l) {
             l.Info = false;
             l.Columns[4] = 420;
         }},
        {"Info column hidden while running", "[General]\nCheckForUpdates=1\n",
         [](TLayout& l) { l.Info = false; }, [](TForm1& form) { form.UnitSummaryColumn1Click(); }},
        {"picture on", "[General]\nShowPicture=1\n", [](TLayout& l) { l.Picture = true; }},
        {"picture turned on while running", "[General]\nCheckForUpdates=1\n",
         [](TLayout& l) { l.Picture = true; }, [](TForm1& form) { form.Picture1Click(); }},
        {"overlay items", "[General]\nPictureOverlay=20\n", [](TLayout& l) { l.Overlay = 20; }},
        {"an overlay item turned off while running", "[General]\nPictureOverlay=3\n",
         [](TLayout& l) { l.Overlay = 1; }, [](TForm1& form) { form.OverlayClick(kOverlayIntra); }},
        {"zoom 2:1", "[General]\nPictureZoom=2\n", [](TLayout& l) { l.Zoom = 2; }},
        {"a zoom beyond 2:1 read as 2:1, then 1:1 chosen", "[General]\nPictureZoom=7\n",
         [](TLayout& l) { l.Zoom = 1; }, [](TForm1& form) { form.ZoomClick(1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugCapture debug;
        SettingsRig rig;
        if (c.ini) {
            rig.Store(*c.ini);
        }
        TForm1 form(rig.Widgets());
        form.FormShow();
        c.whileRunning(form);
        TLayout expected;
        c.expect(expected);
        if (!c.ini) {
            // A first run keeps the list pane to three fifths of the window: the NAL Type
            // column gives way by what the columns, bar and frame (24) take beyond it.
            expected.Columns[3] -= 120 + 70 + 170 + 250 + 250 + 24 - 1400 * 3 / 5;
        }
        EXPECT_EQ(rig.Shown(form), expected);
        EXPECT_EQ(rig.mark.Mark, expected.Flag);
        EXPECT_EQ(rig.viewMark.Mark, expected.Decode);
        EXPECT_EQ(rig.infoMark.Mark, expected.Info);
        EXPECT_EQ(rig.list.Visible[kInfoColumn], expected.Info);
        // The timer follows the flag as loaded; the menu item leaves it alone.
        EXPECT_EQ(rig.timer.On, c.ini.has_value() ? expected.Flag : true);
        form.FormClose();
        EXPECT_EQ(ReadIni(rig.iniFile), AsStored(expected));
        EXPECT_TRUE(debug.Lines().empty());
    }
}

TEST(WindowSettings, AFailedWriteEndsTheSavingAndKeepsWhatWasWritten) {
    DebugCapture debug;
    FakeSettingsStore registry;
    registry.FailingWrite = "Panel2Width";
    FakeReportList list;
    FakeMainWindow window;
    TForm1Widgets w;
    w.ListView1 = &list;
    w.Form1 = &window;
    w.Registry = &registry;
    TForm1 form(w);
    form.SaveRegistrySettings();
    EXPECT_EQ(registry.Writes,
              (Lines{"FormTop", "FormLeft", "FormHeight", "FormWidth", "OffsetColWidth",
                     "LenColWidth", "StartCodeColWidth", "NALColWidth"}));
    EXPECT_EQ(debug.Lines(), Lines{"kvo: Error in TForm1.SaveRegistrySettings call..."});
}

TEST(WindowSettings, NewValuesAreWrittenAfterTheElevenValues) {
    FakeSettingsStore registry;
    FakeReportList list;
    FakeMainWindow window;
    TForm1Widgets w;
    w.ListView1 = &list;
    w.Form1 = &window;
    w.Registry = &registry;
    TForm1 form(w);
    form.DecodeSliceHeaders = true;
    form.SaveRegistrySettings();
    EXPECT_EQ(registry.Writes,
              (Lines{"FormTop",        "FormLeft",       "FormHeight",        "FormWidth",
                     "OffsetColWidth", "LenColWidth",    "StartCodeColWidth", "NALColWidth",
                     "Panel2Width",    "WindowState",    "CheckForUpdates",   "DecodeSliceHeaders",
                     "HexPaneHeight",  "ShowPicture",    "OpenFolder",        "RecentFile1",
                     "RecentFile2",    "RecentFile3",    "RecentFile4",       "RecentFile5",
                     "RecentFile6",    "RecentFile7",    "RecentFile8",       "UnitSummaryColumn",
                     "InfoColWidth",   "PictureOverlay", "PictureZoom"}));
    EXPECT_EQ(registry.Keys["Software\\Marvane\\Quillet"]["DecodeSliceHeaders"], 1);
    EXPECT_EQ(registry.Keys["Software\\Marvane\\Quillet"]["ShowPicture"], 0);
}

TEST(WindowSettings, AValueThatCannotBeAppliedIsSkippedSilently) {
    DebugCapture debug;
    FakeSettingsStore registry;
    auto& key = registry.Keys["Software\\Marvane\\Quillet"];
    key = {{"FormLeft", 5}, {"OffsetColWidth", 9}, {"Panel2Width", 300}, {"CheckForUpdates", 0}};
    FakeMainWindow window;
    TForm1Widgets w; // no list: the column widths cannot be applied
    w.Form1 = &window;
    w.Registry = &registry;
    TForm1 form(w);
    form.LoadRegistrySettings();
    EXPECT_EQ(window.L, 5);
    EXPECT_EQ(window.Panel2, 300);
    EXPECT_FALSE(form.CheckForUpdates);
    EXPECT_TRUE(debug.Lines().empty());

    registry.Broken = true;
    form.LoadRegistrySettings();
    form.SaveRegistrySettings();
    EXPECT_EQ(debug.Lines(), (Lines{"kvo: Error in TForm1.LoadRegistrySettings call...",
                                    "kvo: Error in TForm1.SaveRegistrySettings call..."}));
}

TEST(WindowSettings, TheStoreRefusesAnythingButA32BitInteger) {
    SettingsRig rig;
    rig.Store("[General]\nA=42\nB=-8\nC=2147483648\nD=0x10\nE=\nF=1, 2\nG=\" 7\"\nH=@Invalid()\n");
    const auto key = rig.registry.OpenKey("Software\\Marvane\\Quillet", false);
    ASSERT_TRUE(key);
    using Value = std::optional<std::int32_t>;
    const std::pair<const char*, Value> cases[] = {
        {"A", 42},           {"B", -8},           {"C", std::nullopt},
        {"D", std::nullopt}, {"E", std::nullopt}, {"F", std::nullopt},
        {"G", std::nullopt}, {"H", std::nullopt}, {"missing", std::nullopt},
    };
    for (const auto& [name, value] : cases) {
        EXPECT_EQ(key->ReadDword(name), value) << name;
    }
    EXPECT_FALSE(rig.registry.OpenKey("Software\\Marvane\\Other", false));
    EXPECT_FALSE(rig.registry.OpenKey("Marvane\\Quillet", true));
}

TEST(WindowSettings, PathsComeBackByteForByte) {
    SettingsRig rig;
    const std::string paths[] = {"/home/user/clip one.264", "/tmp/\xC3\xA9t\xC3\xA9.264",
                                 "/tmp/latin1-\xE9.264", "C:\\x;y=z\\[*].264"};
    {
        const auto key = rig.registry.OpenKey("Software\\Marvane\\Quillet", true);
        ASSERT_TRUE(key);
        for (std::size_t i = 0; i < std::size(paths); ++i) {
            key->WriteString("P" + std::to_string(i), paths[i]);
        }
    }
    const auto key = rig.registry.OpenKey("Software\\Marvane\\Quillet", false);
    ASSERT_TRUE(key);
    for (std::size_t i = 0; i < std::size(paths); ++i) {
        EXPECT_EQ(key->ReadString("P" + std::to_string(i)), paths[i]);
    }
    EXPECT_EQ(key->ReadString("missing"), std::nullopt);
    EXPECT_EQ(ReadIni(rig.iniFile)["P0"], "/home/user/clip one.264") << "readable in the file";
}

TEST(WindowPlacement, BringsAWindowOffEveryScreenOntoThePrimary) {
    const std::vector<TScreenRect> two = {{0, 0, 1920, 1040}, {1920, 0, 1280, 1024}};
    const std::vector<TScreenRect> primaryOnRight = {{1920, 0, 1920, 1040}, {0, 0, 1920, 1040}};
    struct Case {
        const char* name;
        TScreenRect window;
        std::vector<TScreenRect> screens;
        TScreenRect placed;
    };
    const Case cases[] = {
        {"on the primary", {100, 100, 800, 600}, two, {100, 100, 800, 600}},
        {"on the second screen", {2500, 300, 800, 600}, two, {2500, 300, 800, 600}},
        {"one pixel on a screen", {-799, -599, 800, 600}, two, {-799, -599, 800, 600}},
        {"touching the right edge only", {3200, 100, 800, 600}, two, {1120, 100, 800, 600}},
        {"left of every screen", {-3000, 100, 800, 600}, two, {0, 100, 800, 600}},
        {"below every screen", {100, 5000, 800, 600}, two, {100, 440, 800, 600}},
        {"larger than the primary", {-5000, -5000, 4000, 3000}, two, {0, 0, 1920, 1040}},
        {"to the primary, not the nearest",
         {-3000, 0, 800, 600},
         primaryOnRight,
         {1920, 0, 800, 600}},
        {"no size", {100, 100, 0, 0}, two, {100, 100, 1, 1}},
        {"extreme values", {2147483647, -2147483647, 2147483647, 100}, two, {0, 0, 1920, 100}},
        {"no screens known", {-3000, 100, 800, 600}, {}, {-3000, 100, 800, 600}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlaceOnScreen(c.window, c.screens), c.placed) << c.name;
    }
}

} // namespace
