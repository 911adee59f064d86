// The window while a picture is decoded: the longest time its event loop does not turn,
// from selecting the last picture of a run from an IDR picture (cold) until that picture is
// drawn, and over steps forward from there. A 1 ms timer measures the loop; the selection's
// own handler counts as a stall too. Runs on Qt's offscreen platform.
// Usage: quillet_picture_stall_bench FILE

#include "qt/MainWindow.h"
#include "qt/PicturePane.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/NalUnitReader.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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
        TNalUnitReader reader(stream);
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
    window.Picture1->trigger();
    window.OpenDropped({QString::fromLocal8Bit(argv[1])});
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
    auto select = [&](std::int64_t offset) {
        const qint64 before = clock.elapsed();
        window.Form().UpdatePack(offset);
        longest = std::max(longest, clock.elapsed() - before);
        lastTick = clock.elapsed();
        while (line.text().startsWith(QStringLiteral("Decoding"))) {
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
    longest = 0;
    const std::size_t from = slices.size() - slices.size() / 4;
    select(slices[from]);
    longest = 0;
    for (std::size_t i = from + 1; i < from + 20 && i < slices.size(); ++i) {
        select(slices[i]);
    }
    std::printf("cold_shown_ms %lld cold_longest_stall_ms %lld step_longest_stall_ms %lld line \"%s\"\n",
                static_cast<long long>(coldMs), static_cast<long long>(coldStall),
                static_cast<long long>(longest), line.text().toLocal8Bit().constData());
    return 0;
}
