// View > Picture in the Windows window, through its real controls: the menu item shows the
// pane below the tree, a click on a row brings that row's picture with its line, drawn in
// the middle of the canvas, and the item hides the pane again. And the layout at another
// density of the monitor.

#include "Win32TestSupport.h"
#include "core/WideText.h"
#include "decode/PictureDecoder.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"
#include "win32/MainWindow.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

RECT RectIn(HWND window, HWND parent) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

struct TestWindow {
    FakeDialogs dialogs;
    std::unique_ptr<TWin32Window> window;
    TestWindow() {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES |
                                                                              ICC_TREEVIEW_CLASSES |
                                                                              ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        TWin32WindowServices services;
        services.Dialogs = &dialogs;
        window = std::make_unique<TWin32Window>(services);
        window->Show(SW_SHOWNORMAL);
        Pump();
    }
};

TEST(Win32Window, ThePicturePane) {
    TestWindow shown;
    TWin32Window& window = *shown.window;
    window.OpenDropped({TestDataPath("main_cabac.264")});
    const HWND frame = window.Handle();
    const HWND tree = window.TreeView1->Handle();
    TWin32PicturePane& pane = *window.PicturePane;
    const RECT treeBefore = RectIn(tree, frame);
    SendMessageW(frame, WM_COMMAND, kIdPicture, 0);
    Pump();
    EXPECT_TRUE(GetMenuState(window.MainMenu1, kIdPicture, MF_BYCOMMAND) & MF_CHECKED);
    ASSERT_TRUE(IsWindowVisible(pane.Canvas()));
    const RECT treeNow = RectIn(tree, frame);
    const RECT canvas = RectIn(pane.Canvas(), frame);
    EXPECT_LT(treeNow.bottom, treeBefore.bottom);
    EXPECT_GE(canvas.top, treeNow.bottom);
    EXPECT_LE(RectIn(pane.LineLabel(), frame).bottom, treeBefore.bottom);

    // Row 4 is the first P picture: a click there, and its picture comes.
    const HWND list = window.ListView1->Handle();
    RECT row{};
    row.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM((row.left + row.right) / 2, (row.top + row.bottom) / 2);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    const std::string expected = "176x144, slices P, frame_num 1, POC 6, picture 1 in decoding "
                                 "order and 3 in display order after the IDR, decoded from the "
                                 "IDR at 0x00000000000002D5 (2 pictures)";
    for (int i = 0; i < 1000 && pane.Line() != expected; ++i) {
        Sleep(10);
        Pump();
    }
    EXPECT_EQ(pane.Line(), expected);
    ASSERT_TRUE(pane.HasImage());
    // Centred, at its full size where it fits, else shrunk to fit with its shape kept.
    const RECT place = pane.Placement();
    RECT area{};
    GetClientRect(pane.Canvas(), &area);
    const double scale = std::min({1.0, area.right / 176.0, area.bottom / 144.0});
    EXPECT_NEAR(place.right - place.left, 176 * scale, 1.0);
    EXPECT_NEAR(place.bottom - place.top, 144 * scale, 1.0);
    EXPECT_NEAR(place.left, area.right - place.right, 1);
    EXPECT_NEAR(place.top, area.bottom - place.bottom, 1);
    // Drawn there, the background around it.
    RedrawWindow(pane.Canvas(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const HDC dc = GetDC(pane.Canvas());
    const COLORREF background = GetSysColor(COLOR_BTNSHADOW);
    int pictureSamples = 0;
    for (int x = place.left + 2; x < place.right - 2; x += 7) {
        pictureSamples += GetPixel(dc, x, (place.top + place.bottom) / 2) != background;
    }
    EXPECT_GT(pictureSamples, (place.right - place.left) / 14);
    if (place.left > 1) {
        EXPECT_EQ(GetPixel(dc, place.left / 2, area.bottom / 2), background);
    }
    ReleaseDC(pane.Canvas(), dc);
    // The pointer over the picture's middle: its samples and macroblock on the line.
    SendMessageW(pane.Canvas(), WM_MOUSEMOVE, 0,
                 MAKELPARAM((place.left + place.right) / 2, (place.top + place.bottom) / 2));
    EXPECT_EQ(pane.Line().rfind(expected + "  |  ", 0), 0u) << pane.Line();
    for (const char* part : {": Y ", " Cb ", " Cr ", "  |  MB "}) {
        EXPECT_NE(pane.Line().find(part), std::string::npos) << pane.Line();
    }
    SendMessageW(pane.Canvas(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(pane.Line(), expected);

    // View > Zoom > 2:1: the full-size picture drawn twice its size, the canvas scrolling
    // where it is larger; the menu marks the zoom chosen.
    SendMessageW(frame, WM_COMMAND, kIdZoomFit + 2, 0);
    for (int i = 0; i < 1000 && !(pane.Line() == expected &&
                                  pane.Placement().right - pane.Placement().left == 352);
         ++i) {
        Sleep(10);
        Pump();
    }
    EXPECT_TRUE(GetMenuState(window.MainMenu1, kIdZoomFit + 2, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(window.MainMenu1, kIdZoomFit, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(pane.Placement().right - pane.Placement().left, 352);
    EXPECT_EQ(pane.Placement().bottom - pane.Placement().top, 288);
    GetClientRect(pane.Canvas(), &area);
    const bool scrolls = (GetWindowLongW(pane.Canvas(), GWL_STYLE) & WS_VSCROLL) != 0;
    EXPECT_EQ(scrolls, area.bottom < 288) << area.bottom;
    SendMessageW(frame, WM_COMMAND, kIdZoomFit, 0);
    Pump();

    SendMessageW(frame, WM_COMMAND, kIdPicture, 0);
    Pump();
    EXPECT_FALSE(IsWindowVisible(pane.Canvas()));
    EXPECT_EQ(RectIn(tree, frame).bottom, treeBefore.bottom);
}

TEST(Win32Window, TheLayoutFollowsTheMonitorsDensity) {
    TestWindow shown;
    TWin32Window& window = *shown.window;
    const HWND bar = window.ScrollBar1->Handle();
    const auto width = [](HWND control) {
        RECT r{};
        GetWindowRect(control, &r);
        return r.right - r.left;
    };
    const int before = width(bar);
    RECT frame{};
    GetWindowRect(window.Handle(), &frame);
    for (const int dpi : {192, 96}) {
        RECT suggested{frame.left, frame.top, frame.left + 600 + dpi, frame.top + 400 + dpi};
        SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        Pump();
        EXPECT_EQ(width(bar), before * dpi / 96) << dpi;
        EXPECT_EQ(window.Width(), suggested.right - suggested.left) << dpi;
        EXPECT_EQ(SendMessageW(window.ListBox1->Handle(), LB_GETITEMHEIGHT, 0, 0), 13 * dpi / 96)
            << dpi;
    }
}

} // namespace
