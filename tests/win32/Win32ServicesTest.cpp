// The Windows services against the real platform under Wine: WinInet against a server on
// 127.0.0.1, the update check end to end through it, the registry store's types, and
// quillet-dump.exe's output bytes.

#include "Win32TestSupport.h"
#include "app/Unit1.h"
#include "cli/DumpCommand.h"
#include "core/WideText.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"
#include "update/ExecutablePath.h"
#include "update/NewVerCheck.h"
#include "win32/services/RegistrySettingsStore.h"
#include "win32/services/WinInetHttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// The product's client, sent to the loopback server in place of the maker's host.
class LoopbackHttp : public IHttpClient {
  public:
    explicit LoopbackHttp(TLoopbackServer& server) : FServer(server) {}
    bool Get(const THttpRequest& request, std::string& body) override {
        const std::size_t path = request.Url.find('/', std::string("https://").size());
        THttpRequest local = request;
        local.Url = FServer.Origin() + request.Url.substr(std::min(path, request.Url.size()));
        return FClient.Get(local, body);
    }

  private:
    TLoopbackServer& FServer;
    TWinInetHttpClient FClient{2000ms};
};

TEST(WinInetHttpClient, GetsTheBodyBoundedInSizeAndTime) {
    TLoopbackServer server(std::string(300, 'x') + "tail");
    TWinInetHttpClient http(2000ms);
    std::string body;
    ASSERT_TRUE(http.Get({server.Origin() + "/download/ver.txt", "quillet.exe", 100}, body));
    EXPECT_EQ(body, std::string(100, 'x'));
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string head = server.Requests()[0];
    EXPECT_EQ(head.rfind("GET /download/ver.txt HTTP/1.1", 0), 0u) << head;
    EXPECT_NE(head.find("User-Agent: quillet.exe"), std::string::npos) << head;

    TLoopbackServer silent("", true);
    TWinInetHttpClient impatient(500ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(impatient.Get({silent.Origin() + "/download/ver.txt", "quillet.exe", 100}, body));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(UpdateCheck, OffersTheDownloadPageForANewerVersionThroughWinInet) {
    const std::string exe = std::filesystem::path(ExecutablePath()).filename().string();
    struct Case {
        const char* what;
        std::string body;
        bool offered;
    };
    const Case cases[] = {
        {"newer", "other.exe;9.9.9.9\r\n" + exe + ";2.1.0.0;notes\r\n", true},
        {"the same", exe + ";2.0.7.63\r\n", false},
        {"three parts", exe + ";2.0.8\r\n", false},
        {"after a blank line", "\r\n" + exe + ";3.0.0.0\r\n", false},
    };
    for (const Case& c : cases) {
        TLoopbackServer server(c.body);
        LoopbackHttp http(server);
        FakeTimer timer;
        FakeDialogs dialogs;
        dialogs.ConfirmAnswer = true;
        FakeBrowser browser;
        TForm1Widgets widgets;
        widgets.tmUpdate = &timer;
        widgets.Dialogs = &dialogs;
        widgets.Browser = &browser;
        widgets.Http = &http;
        TForm1 form(widgets);
        timer.On = true;
        form.tmUpdateTimer();
        EXPECT_FALSE(timer.On) << c.what;
        EXPECT_EQ(dialogs.Confirmations.size(), c.offered ? 1u : 0u) << c.what;
        EXPECT_EQ(browser.Opened, c.offered ? std::vector<std::string>{DownloadPageUrl()}
                                            : std::vector<std::string>{})
            << c.what;
        EXPECT_EQ(server.Requests().size(), 1u) << c.what;
    }
}

TEST(RegistrySettingsStore, KeepsToDwordAndTextValues) {
    const TRedirectedUserKey redirected;
    TRegistrySettingsStore store;
    EXPECT_EQ(store.OpenKey("Software\\Marvane\\Quillet", false), nullptr);
    auto key = store.OpenKey("Software\\Marvane\\Quillet", true);
    ASSERT_NE(key, nullptr);
    key->WriteDword("FormTop", -5);
    EXPECT_EQ(key->ReadDword("FormTop"), -5);
    EXPECT_EQ(key->ReadDword("Absent"), std::nullopt);
    HKEY raw = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Marvane\\Quillet", 0, KEY_ALL_ACCESS, &raw),
              ERROR_SUCCESS);
    const wchar_t text[] = L"12";
    RegSetValueExW(raw, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    const std::uint64_t wide = 7;
    RegSetValueExW(raw, L"Wide", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&wide), sizeof wide);
    RegCloseKey(raw);
    EXPECT_EQ(key->ReadDword("Text"), std::nullopt);
    EXPECT_EQ(key->ReadDword("Wide"), std::nullopt);
    // Texts (the recent files' paths) go as REG_SZ, in any script.
    EXPECT_EQ(key->ReadString("Text"), "12");
    EXPECT_EQ(key->ReadString("FormTop"), std::nullopt);
    key->WriteString("Recent1", "C:\\Видео\\流.264");
    EXPECT_EQ(key->ReadString("Recent1"), "C:\\Видео\\流.264");
    EXPECT_NE(store.OpenKey("Software\\Marvane\\Quillet", false), nullptr);
}

// Runs a program and returns what it wrote to its standard output, byte for byte.
std::string OutputOf(const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            output.append(buffer, got);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

// The two programs, beside each other in the build tree.
std::filesystem::path ProgramPath(const char* name) {
    return (std::filesystem::path(Widen(ExecutablePath())).parent_path() / QUILLET_DUMP_EXE)
        .replace_filename(name);
}

TEST(Programs, CarryTheVersionOfTheProject) {
    for (const char* name : {"quillet.exe", "quillet-dump.exe"}) {
        TVersionQuad version;
        EXPECT_TRUE(GetMarvaneFileVersion(Narrow(ProgramPath(name).wstring()), version)) << name;
        EXPECT_EQ(version, (TVersionQuad{2, 0, 7, 63})) << name;
    }
}

// Line feeds as on Linux, and a file name in any script on the command line.
TEST(Programs, QuilletDumpWritesWhatLinuxWrites) {
    TempDir dir;
    const std::filesystem::path unicode = dir.Path() / std::filesystem::path(Widen("поток-ροή-流.264"));
    std::filesystem::copy_file(std::filesystem::path(Widen(TestDataPath("aud_sei.264"))), unicode);
    const std::string path = Narrow(unicode.wstring());
    std::ostringstream expected;
    std::ostringstream err;
    ASSERT_EQ(RunDump({"--at", "6", path}, expected, err), 0);
    const std::filesystem::path dump = ProgramPath("quillet-dump.exe");
    const std::string output =
        OutputOf(L"\"" + dump.wstring() + L"\" --at 6 \"" + unicode.wstring() + L"\"");
    EXPECT_EQ(output.find('\r'), std::string::npos);
    EXPECT_EQ(output, expected.str());
}

} // namespace
