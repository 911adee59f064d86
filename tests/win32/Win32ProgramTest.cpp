// quillet.exe itself, started as a user starts it with files on its command line: a stream
// opens in the window, and a file it refuses is named in the box it shows.

#include "Win32TestSupport.h"
#include "core/WideText.h"
#include "support/TestSupport.h"
#include "update/ExecutablePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

struct WindowSearch {
    DWORD Process;
    const wchar_t* Class;
    HWND Found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->Process && wcscmp(name, search->Class) == 0 && IsWindowVisible(window)) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

// A top-level window of the process, of the class given, once it exists (within tries
// times 10 ms).
HWND WindowOf(DWORD process, const wchar_t* className, int tries = 2000) {
    WindowSearch search{process, className, nullptr};
    for (int i = 0; i < tries && search.Found == nullptr; ++i) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        Sleep(10);
    }
    return search.Found;
}

std::string TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return Narrow(text);
}

// Runs quillet.exe with one file, lets check look at it, then closes its window and waits
// for it to end.
void WithProgram(const std::filesystem::path& file, const std::function<void(DWORD)>& check) {
    const std::filesystem::path program =
        std::filesystem::path(Widen(ExecutablePath())).parent_path() / QUILLET_EXE;
    std::wstring command = L"\"" + program.wstring() + L"\" \"" + file.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    check(process.dwProcessId);
    if (const HWND window = WindowOf(process.dwProcessId, L"QuilletMainWindow")) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "quillet.exe did not end";
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

TEST(Programs, QuilletOpensTheFileOnItsCommandLineAndNamesARefusedOne) {
    TempDir dir;
    const std::filesystem::path stream = dir.Path() / std::filesystem::path(Widen("поток.264"));
    std::filesystem::copy_file(std::filesystem::path(Widen(TestDataPath("main_cabac.264"))),
                               stream);
    WithProgram(stream, [](DWORD process) {
        const HWND window = WindowOf(process, L"QuilletMainWindow");
        ASSERT_NE(window, nullptr);
        for (int i = 0; i < 500 && TextOf(window).find("поток.264") == std::string::npos; ++i) {
            Sleep(10);
        }
        EXPECT_NE(TextOf(window).find("поток.264"), std::string::npos) << TextOf(window);
        EXPECT_EQ(WindowOf(process, L"#32770", 1), nullptr);
    });
    const std::string refused = dir.Write("notes.txt", {'n', 'o', ' ', 'v', 'i', 'd', 'e', 'o'});
    WithProgram(std::filesystem::path(Widen(refused)), [](DWORD process) {
        const HWND box = WindowOf(process, L"#32770");
        ASSERT_NE(box, nullptr);
        // A message box's text is its static control 0xFFFF.
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        EXPECT_NE(Narrow(text).find("notes.txt"), std::string::npos) << Narrow(text);
        SendMessageW(box, WM_COMMAND, IDOK, 0);
    });
}

} // namespace
