// The Windows program: the main window over the Windows services, and the message loop.

#include "win32/MainWindow.h"
#include "win32/services/RegistrySettingsStore.h"
#include "win32/services/ShellBrowser.h"
#include "win32/services/WinInetHttpClient.h"
#include "win32/services/Win32Monitors.h"

#include "core/WideText.h"

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

// The paths on the command line, made absolute, as wide text: a name in any script.
std::vector<std::string> CommandLinePaths() {
    std::vector<std::string> paths;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return paths;
    }
    for (int i = 1; i < count; ++i) {
        const DWORD length = GetFullPathNameW(arguments[i], 0, nullptr, nullptr);
        std::wstring full(length, L'\0');
        const DWORD got = GetFullPathNameW(arguments[i], length, full.data(), nullptr);
        full.resize(got);
        paths.push_back(Narrow(got > 0 ? full : std::wstring(arguments[i])));
    }
    LocalFree(arguments);
    return paths;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES;
    InitCommonControlsEx(&controls);

    TRegistrySettingsStore registry;
    TWinInetHttpClient http;
    TShellBrowser browser;
    TWin32Monitors monitors;
    TWin32WindowServices services;
    services.Registry = &registry;
    services.Http = &http;
    services.Browser = &browser;
    services.Monitors = &monitors;
    TWin32Window window(services);
    window.SetQuitOnDestroy(true);
    window.Show(showCommand);
    // Paths on the command line open in turn, so that "Open with" and a file dropped on
    // the program's icon work; those refused are named.
    const std::vector<std::string> paths = CommandLinePaths();
    if (!paths.empty()) {
        window.Form().OpenCommandLine(paths);
    }
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslate(message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
