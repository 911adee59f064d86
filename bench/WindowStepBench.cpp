// What one step of the window costs on a given stream: loading it up to the first page and
// the first unit's tree, Page Down, End, a thumb drag to the middle and showing a unit, each
// the median of repeated runs, and the process's peak memory. The window logic runs over
// the recording fakes, so the figures are the logic's and the file's, not a widget's.
// With "noinfo" after REPEATS the NAL list's Info column is hidden, as View > Unit Summary
// Column leaves it; "page down+rows" then draws the rows' texts without their summaries.
// Usage: quillet_window_bench FILE [REPEATS] [noinfo]

#include "app/Unit1.h"
#include "core/DebugOutput.h"
#include "support/FakeWindow.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// A tall list on a large screen.
struct Window : TFakeWindow {
    Window() : TFakeWindow(40, 14) {}
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool gInfo = true;

// Milliseconds of step, measured after prepare (not timed) on a freshly loaded window.
double Measure(const std::string& path, int repeats, const std::function<void(Window&)>& step,
               bool timeTheLoad = false, const std::function<void(Window&)>& prepare = {}) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        Window w;
        if (w.form->ShowInfoColumn != gInfo) {
            w.form->UnitSummaryColumn1Click();
        }
        const auto begin = std::chrono::steady_clock::now();
        if (!w.form->LoadFile(path)) {
            std::fprintf(stderr, "not a stream: %s\n", path.c_str());
            std::exit(1);
        }
        if (prepare) {
            prepare(w);
        }
        auto start = std::chrono::steady_clock::now();
        if (timeTheLoad) {
            start = begin;
        } else {
            step(w);
        }
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        if (w.list.Count == 0 && !timeTheLoad) {
            std::fprintf(stderr, "the step left an empty page\n");
        }
    }
    return Median(times);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillet_window_bench FILE [REPEATS]\n");
        return 2;
    }
    const std::string path = argv[1];
    SetDebugSink([](std::string_view) {}); // the warning and trace lines are not measured
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    gInfo = !(argc > 3 && std::string(argv[3]) == "noinfo");
    const double load = Measure(path, repeats, {}, true);
    const double pageDown =
        Measure(path, repeats, [](Window& w) { w.list.PressKey(Key::PageDown); });
    // A step as the window shows it: the list draws every row of the new page.
    const double pageDownRows = Measure(path, repeats, [](Window& w) {
        w.list.PressKey(Key::PageDown);
        for (int row = 0; row < w.list.Count; ++row) {
            w.Row(row);
        }
    });
    const double end = Measure(path, repeats, [](Window& w) { w.list.PressKey(Key::End); });
    const auto toMiddle = [](Window& w) { w.bar1.PressTo(w.bar1.Max / 2); };
    const double thumb = Measure(path, repeats, toMiddle);
    const double afterThumb = Measure(
        path, repeats, [](Window& w) { w.list.PressKey(Key::PageDown); }, false, toMiddle);
    const double select = Measure(path, repeats, [](Window& w) {
        w.list.Selected = w.list.Count - 1;
        w.form->ListView1MouseDown();
    });
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("load+first page+tree %.3f ms\npage down %.3f ms\npage down+rows %.3f ms\n"
                "end %.3f ms\nthumb drag %.3f ms\npage down after it %.3f ms\n"
                "select a unit %.3f ms\npeak RSS %ld KiB\n",
                load, pageDown, pageDownRows, end, thumb, afterThumb, select, usage.ru_maxrss);
    return 0;
}
