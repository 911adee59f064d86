// How long the window's user-interface thread is held by the stream summary while the walk
// runs beside it: every poll of the pane's timer (a snapshot of the figures, the text lines
// and the plot handed to the pane) is timed, and the longest is the stall the logic adds to
// the event loop. Also the walk's own time. The pane is the recording fake, so painting is
// not counted. Usage: quillet_summary_bench FILE

#include "app/Unit1.h"
#include "core/DebugOutput.h"
#include "support/FakeWindow.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillet_summary_bench FILE\n");
        return 2;
    }
    SetDebugSink([](std::string_view) {});
    TFakeWindow w(40, 14);
    if (!w.form->LoadFile(argv[1])) {
        std::fprintf(stderr, "not a stream: %s\n", argv[1]);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    w.form->StreamSummary1Click();
    double longest = 0;
    int polls = 0;
    while (w.form->Summarising()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kFindPollInterval));
        const auto start = Clock::now();
        w.form->tmSummaryTimer();
        longest = std::max(longest,
                           std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        ++polls;
    }
    const double total = std::chrono::duration<double>(Clock::now() - begin).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("walk %.2f s, %d polls, longest poll %.3f ms, %zu bars, peak RSS %ld KiB\n", total,
                polls, longest, w.summary.Plot.Bars.size(), usage.ru_maxrss);
    for (const std::string& line : w.summary.Figures) {
        std::printf("  %s\n", line.c_str());
    }
    return 0;
}
