#include "core/Guard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

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
