#include "core/Guard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

TEST(Guard, ReturnsTheBodysResultAndWritesNothing) {
    DebugCapture capture;
    EXPECT_EQ(Guard("TForm1.LoadFile", false, [] { return true; }), true);
    EXPECT_EQ(Guard("THexView.Init", kStatusFail, [] { return kStatusOk; }), kStatusOk);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(Guard, SwallowsAnyExceptionAndReportsTheRoutine) {
    DebugCapture capture;
    EXPECT_FALSE(Guard("IsH264VideoES", false, []() -> bool { throw std::runtime_error("x"); }));
    EXPECT_EQ(Guard("THexView.OpenFile", kStatusFail, []() -> TStatus { throw 42; }), kStatusFail);
    GuardVoid("TForm1.RefreshPosition", [] { throw std::bad_alloc(); });
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{
                                   "kvo: Error in IsH264VideoES call...",
                                   "kvo: Error in THexView.OpenFile call...",
                                   "kvo: Error in TForm1.RefreshPosition call...",
                               }));
    EXPECT_EQ(static_cast<std::uint32_t>(kStatusFail), 0x80004005u);
}

TEST(DebugOutput, SinkReceivesLinesUntilRestored) {
    std::vector<std::string> outer;
    auto previous = SetDebugSink([&](std::string_view line) { outer.emplace_back(line); });
    {
        DebugCapture inner;
        DebugOutput("one up");
        EXPECT_EQ(inner.Lines(), std::vector<std::string>{"one up"});
    }
    DebugOutput("page down");
    SetDebugSink(previous);
    EXPECT_EQ(outer, std::vector<std::string>{"page down"});
}

#ifndef _WIN32
// Without a sink the lines go to standard error only when QUILLET_DEBUG=1 asks for them.
TEST(DebugOutput, StandardErrorOnlyWhenAskedFor) {
    const char* before = std::getenv("QUILLET_DEBUG");
    const std::string saved = before != nullptr ? before : "";
    const std::pair<const char*, std::string> cases[] = {
        {nullptr, ""}, {"0", ""}, {"", ""}, {"yes", ""}, {"1", "page up\n"}};
    for (const auto& [value, written] : cases) {
        if (value != nullptr) {
            ::setenv("QUILLET_DEBUG", value, 1);
        } else {
            ::unsetenv("QUILLET_DEBUG");
        }
        testing::internal::CaptureStderr();
        DebugOutput("page up");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), written) << (value ? value : "unset");
    }
    if (before != nullptr) {
        ::setenv("QUILLET_DEBUG", saved.c_str(), 1);
    } else {
        ::unsetenv("QUILLET_DEBUG");
    }
}
#endif
