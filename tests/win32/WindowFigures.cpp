// Figures of the Windows window, for bench/windows-figures.sh: the time to the first page of
// a stream (the load, as a drop makes it) and to each Page Down, with the window's real
// controls under Wine; optionally a picture of the window as a BMP. Never a test: figures
// are reported, not asserted.
//   win32_window_figures FILE [STEPS] [PICTURE.bmp]

#include "Win32TestSupport.h"
#include "core/WideText.h"
#include "win32/MainWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The window as it is shown, as a 24-bit BMP.
void SavePicture(HWND window, const std::string& path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    // From the screen: what the user sees, children and frame alike.
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto stride = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
    const std::uint32_t size = stride * static_cast<std::uint32_t>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), size);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: win32_window_figures FILE [STEPS] [PICTURE.bmp]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int steps = argc > 2 ? std::max(std::atoi(argv[2]), 1) : 20;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                       ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    TWin32Window window;
    window.Show(SW_SHOWNORMAL);
    Pump();

    auto start = std::chrono::steady_clock::now();
    window.OpenDropped({path});
    Pump();
    const double firstPage = MillisecondsSince(start);
    const HWND list = window.ListView1->Handle();
    std::vector<double> pageDowns;
    for (int i = 0; i < steps; ++i) {
        start = std::chrono::steady_clock::now();
        SendMessageW(list, WM_KEYDOWN, VK_NEXT, 1);
        SendMessageW(list, WM_KEYUP, VK_NEXT, static_cast<LPARAM>(0xC0000001u));
        Pump();
        pageDowns.push_back(MillisecondsSince(start));
    }
    std::sort(pageDowns.begin(), pageDowns.end());
    std::printf("rows a page: %d\n", window.ListView1->RowsPerPage());
    std::printf("first page: %.1f ms\n", firstPage);
    std::printf("Page Down: median %.1f ms, slowest %.1f ms of %d\n",
                pageDowns[pageDowns.size() / 2], pageDowns.back(), steps);
    std::printf("page now starts at %s\n", window.Form().FileName.empty()
                                               ? "-"
                                               : std::to_string(window.Form().Locators[0].Offset).c_str());
    if (argc > 3) {
        // Back to the first page, a unit's details in view, for the picture.
        SendMessageW(list, WM_KEYDOWN, VK_HOME, 1);
        SendMessageW(list, WM_KEYUP, VK_HOME, static_cast<LPARAM>(0xC0000001u));
        SendMessageW(list, WM_KEYDOWN, VK_DOWN, 1);
        SendMessageW(list, WM_KEYUP, VK_DOWN, static_cast<LPARAM>(0xC0000001u));
        // With the stream's summary, once its walk has ended.
        SendMessageW(window.Handle(), WM_COMMAND, kIdStreamSummary, 0);
        for (int i = 0; i < 3000 && window.Form().Summarising(); ++i) {
            Sleep(10);
            Pump();
        }
        Pump();
        SavePicture(window.Handle(), argv[3]);
    }
    return 0;
}
