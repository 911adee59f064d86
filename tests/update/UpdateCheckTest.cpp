#include "app/Unit1.h"
#include "qt/services/QtHttpClient.h"
#include "support/Fakes.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestSupport.h"
#include "update/ExecutablePath.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Lines = std::vector<std::string>;

const std::string kHost = QUILLET_MAKER_HOST;
const std::string kVersionFileUrl = "https://" + kHost + "/download/ver.txt";
const std::string kDownloadPageUrl = "https://" + kHost + "/?page_id=25";
const std::string kPrompt = "A new version of Quillet is available on " + kHost +
                            ". Do you want to update to the latest version?";
const std::string kFetchError = "kvo: Error in GetMarvaneUpdateInternetFile call...";

TQtHttpClientOptions LoopbackOptions() {
    // Short enough for the silent server; never through a proxy, so that only 127.0.0.1
    // is contacted.
    return {std::chrono::milliseconds(300), false};
}

// The product's client, sent to the loopback server in place of the maker's host. It
// keeps what the product asked for.
class LoopbackHttp : public IHttpClient {
  public:
    explicit LoopbackHttp(const LoopbackHttpServer& server) : FServer(server) {}
    std::vector<THttpRequest> Asked;

    bool Get(const THttpRequest& request, std::string& body) override {
        Asked.push_back(request);
        const std::size_t pathStart = request.Url.find('/', std::string("https://").size());
        THttpRequest local = request;
        local.Url = FServer.Origin() + request.Url.substr(std::min(pathStart, request.Url.size()));
        return FClient.Get(local, body);
    }

  private:
    const LoopbackHttpServer& FServer;
    TQtHttpClient FClient{LoopbackOptions()};
};

std::string ExeName() {
    return std::filesystem::path(ExecutablePath()).filename().string();
}

struct UpdateRig {
    LoopbackHttpServer server;
    LoopbackHttp http{server};
    FakeTimer timer;
    FakeDialogs dialogs;
    FakeBrowser browser;
    TForm1 form{Widgets()};

    TForm1Widgets Widgets() {
        TForm1Widgets w;
        w.tmUpdate = &timer;
        w.Dialogs = &dialogs;
        w.Browser = &browser;
        w.Http = &http;
        return w;
    }
    // The timer fires once the check is pending.
    void Fire() {
        timer.On = true;
        form.tmUpdateTimer();
    }
};

TEST(UpdateCheck, OffersTheUpdateOnlyForANewerVersionOfThisProgram) {
    const std::string exe = ExeName();
    std::string oversized;
    while (oversized.size() < 10240) {
        oversized += "padding;0.0.0.0;\r\n";
    }
    oversized.resize(10240);
    struct Case {
        const char* name;
        int status;
        std::string body;
        bool offered;
        Lines lines;
    };
    const Case cases[] = {
        {"newer minor", 200, exe + ";2.1.0.0\r\n", true, {}},
        {"newer build", 200, "other;9.9.9.9\r\n" + exe + ";2.0.7.64\r\n", true, {}},
        {"newer major, older minor", 200, exe + ";3.0.0.0\r\n", true, {}},
        {"equal", 200, exe + ";2.0.7.63\r\n", false, {}},
        {"older, with greater later parts", 200, exe + ";1.9.9.99\r\n", false, {}},
        {"older release, greater build", 200, exe + ";2.0.6.100\r\n", false, {}},
        {"a fifth part", 200, exe + ";2.1.0.0.7\r\n", true, {}},
        {"the name in field 3 only", 200, "x;2.1.0.0;" + exe + "\r\n", false, {}},
        // "quillet" is also in "quillet-dump": only the whole first field names the program.
        {"a longer name that holds it, listed first",
         200,
         exe + "-dump;9.9.9.9\r\nmy" + exe + ";9.9.9.9\r\n" + exe + ";2.0.7.63\r\n",
         false,
         {}},
        {"a longer name listed after it",
         200,
         exe + ";2.1.0.0\r\n" + exe + "-dump;1.0.0.0\r\n",
         true,
         {}},
        {"third field ignored", 200, exe + ";2.1.0.0;notes;more\r\n", true, {}},
        {"three parts", 200, exe + ";2.0.8\r\n", false, {kFetchError}},
        {"part not a number", 200, exe + ";2.x.0.0\r\n", false, {kFetchError}},
        {"part with a blank", 200, exe + ";2.1.0.0 \r\n", false, {kFetchError}},
        {"no version field", 200, exe + "\r\n", false, {kFetchError}},
        {"blank line above", 200, "other;9.9.9.9\r\n\r\n" + exe + ";3.0.0.0\r\n", false, {}},
        {"bare line feeds: one line, named by its first field",
         200,
         "head;2.1.0.0;\n" + exe + ";3.0.0.0;\n",
         false,
         {}},

        {"another executable", 200, "Other.exe;3.0.0.0\r\n", false, {}},
        {"the name in other letter case",
         200,
         std::string(1, static_cast<char>(std::toupper(exe[0]))) + exe.substr(1) + ";3.0.0.0\r\n",
         false,
         {}},
        {"error page", 500, "<html><body>Internal Server Error</body></html>", false, {}},
        {"error status, the program's line in the body", 500, exe + ";2.1.0.0\r\n", true, {}},
        {"the line beyond the first 10240 bytes", 200, oversized + exe + ";3.0.0.0\r\n", false, {}},
        {"a zero byte ends the text",
         200,
         "other;1.0.0.0\r\n" + std::string(1, '\0') + exe + ";3.0.0.0\r\n",
         false,
         {}},
        {"empty file", 200, "", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugCapture debug;
        UpdateRig rig;
        rig.server.Response = {c.status, c.body};
        rig.dialogs.ConfirmAnswer = true;
        rig.Fire();
        EXPECT_FALSE(rig.timer.On);
        ASSERT_EQ(rig.http.Asked.size(), 1u);
        EXPECT_EQ(rig.http.Asked[0].Url, kVersionFileUrl);
        EXPECT_EQ(rig.http.Asked[0].MaxBytes, 10240);
        ASSERT_EQ(rig.server.Requests.size(), 1u);
        EXPECT_EQ(rig.server.Requests[0].rfind("GET /download/ver.txt HTTP/1.1\r\n", 0), 0u);
        EXPECT_NE(rig.server.Requests[0].find("\r\nUser-Agent: " + exe + "\r\n"),
                  std::string::npos);
        using Asked = std::vector<std::pair<std::string, std::string>>;
        EXPECT_EQ(rig.dialogs.Confirmations, (c.offered ? Asked{{"Confirm", kPrompt}} : Asked{}));
        EXPECT_EQ(rig.browser.Opened, c.offered ? Lines{kDownloadPageUrl} : Lines{});
        EXPECT_EQ(debug.Lines(), c.lines);
    }
}

TEST(UpdateCheck, AnsweringNoOpensNothing) {
    UpdateRig rig;
    rig.server.Response = {200, ExeName() + ";2.1.0.0\r\n"};
    rig.dialogs.ConfirmAnswer = false;
    rig.Fire();
    EXPECT_EQ(rig.dialogs.Confirmations.size(), 1u);
    EXPECT_TRUE(rig.browser.Opened.empty());
}

TEST(UpdateCheck, AServerThatNeverAnswersEndsTheCheckSilently) {
    DebugCapture debug;
    UpdateRig rig;
    rig.server.Response.Silent = true;
    rig.Fire();
    EXPECT_EQ(rig.server.Requests.size(), 1u);
    EXPECT_TRUE(rig.dialogs.Confirmations.empty());
    EXPECT_TRUE(debug.Lines().empty());
    EXPECT_FALSE(rig.timer.On);
}

TEST(UpdateCheck, AMissingWidgetIsReportedAndNothingIsFetched) {
    struct Case {
        const char* name;
        void (*remove)(TForm1Widgets& w);
        bool timerStaysOn;
    };
    const Case cases[] = {
        {"timer", [](TForm1Widgets& w) { w.tmUpdate = nullptr; }, true},
        {"browser", [](TForm1Widgets& w) { w.Browser = nullptr; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DebugCapture debug;
        UpdateRig rig;
        c.remove(rig.form.Widgets);
        rig.Fire();
        EXPECT_EQ(rig.timer.On, c.timerStaysOn);
        EXPECT_TRUE(rig.server.Requests.empty());
        EXPECT_EQ(debug.Lines(), Lines{"kvo: Error in TForm1.tmUpdateTimer call..."});
    }
}

// Startup, the timer firing if it was started, and shutdown, with the flag as stored.
TEST(UpdateCheck, RunsOnlyWhenTheStoredFlagAllowsIt) {
    struct Case {
        const char* name;
        std::optional<std::int32_t> storedFlag;
        std::size_t requests;
    };
    const Case cases[] = {
        {"first run", std::nullopt, 1},
        {"flag on", 1, 1},
        {"flag off", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateRig rig;
        rig.server.Response = {200, ExeName() + ";2.0.7.63\r\n"};
        FakeSettingsStore registry;
        if (c.storedFlag) {
            registry.Keys["Software\\Marvane\\Quillet"]["CheckForUpdates"] = *c.storedFlag;
        }
        FakeReportList list;
        FakeScrollBar bar;
        FakeMainWindow window;
        FakeMenuCheck mark;
        TForm1Widgets w = rig.Widgets();
        w.ListView1 = &list;
        w.ScrollBar1 = &bar;
        w.Form1 = &window;
        w.CheckForUpdates1 = &mark;
        w.Registry = &registry;
        TForm1 form(w);
        form.FormShow();
        if (rig.timer.On) {
            form.tmUpdateTimer();
        }
        form.FormClose();
        EXPECT_EQ(rig.server.Requests.size(), c.requests);
    }
}

TEST(TQtHttpClient, AnyAnswerIsABodyUpToTheLimit) {
    struct Case {
        const char* name;
        TCannedResponse response;
        std::int32_t maxBytes;
        bool answered;
        std::string body;
    };
    const std::string large(20000, 'x');
    const Case cases[] = {
        {"ok", {200, "abc"}, 100, true, "abc"},
        {"empty", {200, ""}, 100, true, ""},
        {"server error", {500, "oops"}, 100, true, "oops"},
        {"not found", {404, "gone"}, 100, true, "gone"},
        {"larger than the limit", {200, large}, 10240, true, std::string(10240, 'x')},
        {"no answer", {200, "late", true}, 100, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackHttpServer server;
        server.Response = c.response;
        TQtHttpClient client(LoopbackOptions());
        std::string body;
        EXPECT_EQ(client.Get({server.Origin() + "/f", "agent/1", c.maxBytes}, body), c.answered);
        EXPECT_EQ(body, c.body);
        ASSERT_EQ(server.Requests.size(), 1u);
        EXPECT_NE(server.Requests[0].find("\r\nUser-Agent: agent/1"), std::string::npos);
    }
}

TEST(TQtHttpClient, NoServerIsNoAnswer) {
    quint16 port = 0;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
        port = closed.serverPort();
    }
    TQtHttpClient client(LoopbackOptions());
    std::string body = "kept";
    EXPECT_FALSE(client.Get({"http://127.0.0.1:" + std::to_string(port) + "/f", "a", 100}, body));
    EXPECT_EQ(body, "kept");
}

} // namespace
