#include "win32/services/ShellBrowser.h"

#include "core/WideText.h"

#include <windows.h>
#include <shellapi.h>

void TShellBrowser::OpenUrl(const std::string& url) {
    ShellExecuteW(GetActiveWindow(), nullptr, Widen(url).c_str(), L"", L"", SW_SHOW);
}
