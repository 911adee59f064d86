// The window while a picture is decoded: the longest time its event loop does not turn,
// from selecting the last picture of a run from an IDR picture (cold) until that picture is
// drawn, and over steps forward from there. A 1 ms timer measures the loop; the selection's
// own handler counts as a stall too. Runs on Qt's offscreen platform.
// Usage: quillet_picture_stall_bench FILE [off]   (off: the same selections with the pane
// hidden, for the window's own stalls)

#include "qt/MainWindow.h"
#include "qt/PicturePane.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Times every event the application hands out: the longest one tells the window's own work
// apart from time the system gave to other threads.
class TTimedApplication : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        QElapsedTimer timer;
        timer.start();
        const int type = event->type();
        const bool done = QApplication::notify(receiver, event);
        const qint64 ms = timer.elapsed();
        if (ms > Longest) {
            Longest = ms;
            LongestType = type;
        }
        return done;
    }
    qint64 Longest = 0;
    int LongestType = 0;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillet_picture_stall_bench FILE\n");
        return 2;
    }
    std::vector<std::int64_t> slices;
    {
        FileStream stream;
        if (!stream.Open(argv[1])) {
            return 1;
        }
        TUnitCursor reader(stream);
        TNalUnitSpan span;
        std::uint32_t previous = 0;
        int idr = 0;
        while (reader.Next(span)) {
            const std::uint32_t type = span.HasHeader ? NalUnitType(span.Header) : 0;
            idr += type == 5 && previous != 5 ? 1 : 0;
            if (idr >= 3) {
                break;
            }
            if (type == 1 || type == 5) {
                previous = type;
                slices.push_back(span.Offset);
            }
        }
    }
    TMainWindow window;
    window.resize(1280, 900);
    window.show();
    const bool shown = !(argc > 2 && QString::fromLocal8Bit(argv[2]) == QStringLiteral("off"));
    if (shown) {
        window.Picture1->trigger();
    }
    window.OpenDropped({QString::fromLocal8Bit(argv[1])});
    // The window's first showing is no part of what is measured.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    app.Longest = 0;
    QLabel& line = *window.PicturePane->LineLabel;

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    tick.start();
    // Selects the unit at offset and turns the loop until its picture is drawn.
    qint64 handler = 0; // the longest selection handler alone
    auto select = [&](std::int64_t offset) {
        const qint64 before = clock.elapsed();
        window.Form().UpdatePack(offset);
        handler = std::max(handler, clock.elapsed() - before);
        longest = std::max(longest, clock.elapsed() - before);
        lastTick = clock.elapsed();
        while (shown && line.text().startsWith(QStringLiteral("Decoding"))) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        QApplication::processEvents(); // the paint of the new picture
    };
    // The last picture of the second run: loading showed the first unit's picture, from the
    // first run.
    const qint64 coldStart = clock.elapsed();
    select(slices.back());
    const qint64 coldMs = clock.elapsed() - coldStart;
    const qint64 coldStall = longest;
    const qint64 coldEvent = app.Longest;
    const int coldEventType = app.LongestType;
    longest = 0;
    app.Longest = 0;
    const std::size_t from = slices.size() - slices.size() / 4;
    select(slices[from]);
    longest = 0;
    for (std::size_t i = from + 1; i < from + 20 && i < slices.size(); ++i) {
        select(slices[i]);
    }
    std::printf("cold_shown_ms %lld cold_longest_stall_ms %lld step_longest_stall_ms %lld "
                "longest_handler_ms %lld\n"
                "longest_event_ms cold %lld (type %d) steps %lld (type %d)\nline \"%s\"\n",
                static_cast<long long>(coldMs), static_cast<long long>(coldStall),
                static_cast<long long>(longest), static_cast<long long>(handler),
                static_cast<long long>(coldEvent), coldEventType,
                static_cast<long long>(app.Longest), app.LongestType,
                line.text().toLocal8Bit().constData());
    return 0;
}
