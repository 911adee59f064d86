#include "app/SummaryPlot.h"

#include "stream/H264Utils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr TPlotColour kBackground{255, 255, 255};
constexpr TPlotColour kInk{0, 0, 0};
constexpr TPlotColour kAxis{96, 96, 96};
constexpr TPlotColour kGrid{228, 228, 228};
constexpr TPlotColour kI{208, 64, 64};
constexpr TPlotColour kP{64, 96, 208};
constexpr TPlotColour kB{64, 160, 64};
constexpr TPlotColour kIdr{150, 60, 190};
// The current page is drawn at least this wide, so that it can be seen on any file.
constexpr int kPageWidth = 3;
constexpr int kMarkHeight = 4; // the IDR marks above the bars
// A press and release closer than this is a click, not a drag.
constexpr int kDragSlack = 4;
// A thin bar answers the pointer this far beside it.
constexpr int kHitSlack = 2;

// The smallest of 1, 2 or 5 times a power of ten that is at least x.
double Nice(double x) {
    if (x <= 0) {
        return 1;
    }
    const double power = std::pow(10.0, std::floor(std::log10(x)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= x * (1 - 1e-9)) {
            return step * power;
        }
    }
    return 10 * power;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::round(value * 100) / 100);
    return text;
}

std::string TypeName(std::uint32_t sliceType, bool idr) {
    static const char* const names[] = {"P", "B", "I", "SP", "SI"};
    return idr ? "IDR" : names[sliceType % 5];
}

// The counts of one bar added to another's.
void AddCounts(TSummaryBar& into, const TSummaryBar& from) {
    into.Pictures += from.Pictures;
    into.Bytes += from.Bytes;
    into.I += from.I;
    into.P += from.P;
    into.B += from.B;
    into.Idr += from.Idr;
}

} // namespace

TPlotColour PlotColourOf(std::uint32_t sliceType, bool idr) {
    if (idr) {
        return kIdr;
    }
    switch (sliceType % 5) {
    case 1:
        return kB;
    case 2:
    case 4:
        return kI;
    default:
        return kP;
    }
}

void TSummaryPlotModel::SetPlot(const TSummaryPlot& plot) {
    const std::int64_t first = FPlot.PageFirst;
    const std::int64_t end = FPlot.PageEnd;
    const bool sameFile = plot.FileSize == FPlot.FileSize;
    FPlot = plot;
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    if (!sameFile || FViewEnd > FPlot.FileSize || FViewFirst >= FViewEnd) {
        FViewFirst = 0;
        FViewEnd = FPlot.FileSize;
    }
    Lay();
}

void TSummaryPlotModel::SetPage(std::int64_t first, std::int64_t end) {
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    Lay();
}

void TSummaryPlotModel::SetSize(int width, int height, TPlotMetrics metrics) {
    FWidth = width;
    FHeight = height;
    FMetrics = metrics;
    Lay();
}

int TSummaryPlotModel::XOf(std::int64_t offset) const {
    const std::int64_t span = FViewEnd - FViewFirst;
    if (span <= 0) {
        return FLeft;
    }
    return FLeft + static_cast<int>(std::floor(static_cast<double>(offset - FViewFirst) *
                                               (FRight - FLeft) / static_cast<double>(span)));
}

std::int64_t TSummaryPlotModel::OffsetAt(int x) const {
    if (FRight <= FLeft) {
        return FViewFirst;
    }
    const int along = std::clamp(x, FLeft, FRight) - FLeft;
    return FViewFirst +
           static_cast<std::int64_t>(static_cast<double>(along) *
                                     static_cast<double>(FViewEnd - FViewFirst) / (FRight - FLeft));
}

const TPlotColumn* TSummaryPlotModel::ColumnAt(int x) const {
    const TPlotColumn* nearest = nullptr;
    int distance = kHitSlack + 1;
    for (const TPlotColumn& column : FColumns) {
        if (x >= column.Left && x < column.Right) {
            return &column;
        }
        const int away = x < column.Left ? column.Left - x : x - column.Right + 1;
        if (away < distance) {
            distance = away;
            nearest = &column;
        }
    }
    return nearest;
}

std::string TSummaryPlotModel::TipAt(
    int x, const std::function<std::string(std::int64_t, std::int64_t)>& unitText) const {
    const TPlotColumn* column = ColumnAt(x);
    if (column == nullptr) {
        return {};
    }
    const TSummaryBar& bar = column->Bar;
    std::string tip = NalOffsetText(bar.LargestOffset) + ": " +
                      TypeName(bar.LargestType, bar.LargestIdr) + " picture, " +
                      std::to_string(bar.Largest) + " bytes (" +
                      Number(static_cast<double>(bar.Largest) * 8 / 1000) + " kbit)";
    if (unitText && bar.LargestSlice >= 0) {
        const std::string slice = unitText(bar.LargestSlice, bar.LargestSliceLength);
        if (!slice.empty()) {
            tip += "\nFirst slice: " + slice;
        }
    }
    if (bar.Pictures > 1) {
        tip += "\nThe largest of " + std::to_string(bar.Pictures) + " pictures here (I " +
               std::to_string(bar.I) + ", P " + std::to_string(bar.P) + ", B " +
               std::to_string(bar.B) + ", IDR " + std::to_string(bar.Idr) + ")";
    }
    return tip;
}

void TSummaryPlotModel::Press(int x) {
    FPressX = x;
    FDragX = x;
}

void TSummaryPlotModel::Drag(int x) {
    if (FPressX) {
        FDragX = x;
        Lay();
    }
}

std::optional<std::int64_t> TSummaryPlotModel::Release(int x) {
    if (!FPressX) {
        return std::nullopt;
    }
    const int from = *FPressX;
    FPressX.reset();
    if (std::abs(x - from) < kDragSlack) {
        Lay();
        if (FPlot.FileSize <= 0) {
            return std::nullopt;
        }
        const TPlotColumn* column = ColumnAt(x);
        return column != nullptr ? column->Bar.LargestOffset : OffsetAt(x);
    }
    const std::int64_t first = OffsetAt(std::min(from, x));
    const std::int64_t end = OffsetAt(std::max(from, x));
    if (end > first) {
        FViewFirst = first;
        FViewEnd = end;
    }
    Lay();
    if (end > first && OnViewChange) {
        OnViewChange(FViewFirst, FViewEnd);
    }
    return std::nullopt;
}

void TSummaryPlotModel::ZoomOut() {
    const bool zoomed = Zoomed();
    FViewFirst = 0;
    FViewEnd = FPlot.FileSize;
    Lay();
    if (zoomed && OnViewChange) {
        OnViewChange(FViewFirst, FViewEnd);
    }
}

void TSummaryPlotModel::Lay() {
    FPicture = TPlotPicture{kBackground, kInk, {}, {}, {}};
    FColumns.clear();
    const int line = FMetrics.LineHeight;
    FLeft = FMetrics.CharWidth * 6 + 8;
    // Room on the right for the bitrate's scale.
    FRight = FWidth - FMetrics.CharWidth * (FPlot.PicturesPerSecond > 0 ? 7 : 3);
    FTop = line + 4 + kMarkHeight;
    FBottom = FHeight - line - 6;
    if (FRight - FLeft < 8 || FBottom - FTop < 8) {
        return;
    }
    LayColumns();
    std::int64_t largest = 1;
    for (const TPlotColumn& column : FColumns) {
        largest = std::max(largest, column.Bar.Largest);
    }
    // The vertical scale in kbit, up to the first tick at or above the largest picture.
    const double top = Ticks(static_cast<double>(largest) * 8 / 1000, [&](double tick, int y) {
        FPicture.Rects.push_back({FLeft, y, FRight - FLeft, 1, kGrid});
        FPicture.Texts.push_back({FLeft - 4, y - line / 2, Number(tick), TPlotAlign::Right});
    });
    const int height = FBottom - FTop;
    if (FPlot.PageFirst >= 0 && FPlot.PageEnd > FViewFirst && FPlot.PageFirst < FViewEnd) {
        const int left = std::max(XOf(FPlot.PageFirst), FLeft);
        const int right = std::min(std::max(XOf(FPlot.PageEnd), left + kPageWidth), FRight + 1);
        FPicture.Rects.push_back(
            {left, FTop, std::max(right - left, kPageWidth), FBottom - FTop, kPlotPage});
    }
    if (FPressX && std::abs(FDragX - *FPressX) >= kDragSlack) {
        const int left = std::clamp(std::min(FDragX, *FPressX), FLeft, FRight);
        const int right = std::clamp(std::max(FDragX, *FPressX), FLeft, FRight);
        FPicture.Rects.push_back({left, FTop, right - left, FBottom - FTop, kPlotBand});
    }
    for (const TPlotColumn& column : FColumns) {
        const TSummaryBar& bar = column.Bar;
        const int h = std::max(
            1, static_cast<int>(static_cast<double>(bar.Largest) * 8 / 1000 / top * height));
        // Side by side bars keep a pixel between them when they are wide enough to spare it.
        const int width = column.Right - column.Left - (column.Right - column.Left >= 3 ? 1 : 0);
        FPicture.Rects.push_back(
            {column.Left, FBottom - h, width, h, PlotColourOf(bar.LargestType, bar.LargestIdr)});
        if (bar.Idr > 0) {
            FPicture.Rects.push_back(
                {column.Left, FTop - kMarkHeight, std::max(width, 2), kMarkHeight, kIdr});
        }
    }
    Axes();
    RateLine();
    Legend();
}

int TSummaryPlotModel::YOf(double value, double top) const {
    return FBottom - static_cast<int>(std::lround(value / top * (FBottom - FTop)));
}

double TSummaryPlotModel::Ticks(double highest,
                                const std::function<void(double tick, int y)>& mark) const {
    const int rows = std::max(1, (FBottom - FTop) / (2 * FMetrics.LineHeight));
    const double step = Nice(highest / rows);
    const double top = std::max(step, std::ceil(highest / step - 1e-9) * step);
    for (double tick = 0; tick <= top * (1 + 1e-9); tick += step) {
        mark(tick, YOf(tick, top));
    }
    return top;
}

double TSummaryPlotModel::RateOf(const TSummaryBar& bar) const {
    return bar.Pictures > 0 ? static_cast<double>(bar.Bytes) * 8 * FPlot.PicturesPerSecond /
                                  static_cast<double>(bar.Pictures) / 1000
                            : 0;
}

void TSummaryPlotModel::RateLine() {
    if (FPlot.PicturesPerSecond <= 0 || FColumns.empty()) {
        return;
    }
    const int line = FMetrics.LineHeight;
    double highest = 1;
    for (const TPlotColumn& column : FColumns) {
        highest = std::max(highest, RateOf(column.Bar));
    }
    const double top = Ticks(highest, [&](double tick, int y) {
        FPicture.Rects.push_back({FRight + 1, y, 3, 1, kPlotRate});
        FPicture.Texts.push_back({FRight + 5, y - line / 2, Number(tick), TPlotAlign::Left});
    });
    std::optional<std::pair<int, int>> last;
    for (const TPlotColumn& column : FColumns) {
        const int x = (column.Left + column.Right) / 2;
        const int y = YOf(RateOf(column.Bar), top);
        FPicture.Lines.push_back(last ? TPlotLine{last->first, last->second, x, y, kPlotRate}
                                      : TPlotLine{x, y, x, y, kPlotRate});
        last = std::pair{x, y};
    }
}

void TSummaryPlotModel::LayColumns() {
    for (const TSummaryBar& bar : FPlot.Bars) {
        const std::int64_t end = bar.FirstOffset + std::max<std::int64_t>(bar.Bytes, 1);
        if (bar.Pictures <= 0 || end <= FViewFirst || bar.FirstOffset >= FViewEnd) {
            continue;
        }
        const int left = XOf(std::max(bar.FirstOffset, FViewFirst));
        const int right = std::max(left + 1, XOf(std::min(end, FViewEnd)));
        if (!FColumns.empty() && left < FColumns.back().Right) {
            // Bars that share a pixel are drawn as one, for the largest picture among them.
            TPlotColumn& shared = FColumns.back();
            TSummaryBar& into = shared.Bar;
            shared.Right = std::max(shared.Right, right);
            if (bar.Largest > into.Largest) {
                const TSummaryBar kept = into;
                into = bar;
                into.FirstOffset = kept.FirstOffset;
                AddCounts(into, kept);
            } else {
                AddCounts(into, bar);
            }
            continue;
        }
        FColumns.push_back({left, right, bar});
    }
}

void TSummaryPlotModel::Axes() {
    FPicture.Rects.push_back(
        {FLeft - 1, FTop - kMarkHeight, 1, FBottom - FTop + kMarkHeight + 1, kAxis});
    FPicture.Rects.push_back({FLeft - 1, FBottom, FRight - FLeft + 2, 1, kAxis});
    FPicture.Texts.push_back({2, 0, "kbit per picture, by file offset", TPlotAlign::Left});
    // Offsets along the bottom in the largest binary unit the range holds twice.
    const std::int64_t span = FViewEnd - FViewFirst;
    if (span <= 0) {
        return;
    }
    static const char* const unitNames[] = {"", " KiB", " MiB", " GiB", " TiB"};
    int unit = 0;
    double scale = 1;
    while (unit < 4 && static_cast<double>(span) / (scale * 1024) >= 2) {
        scale *= 1024;
        ++unit;
    }
    const int labels = std::max(1, (FRight - FLeft) / (FMetrics.CharWidth * 12));
    const double step =
        std::max(Nice(static_cast<double>(span) / scale / labels), unit == 0 ? 1.0 : 0.0);
    const double first = std::ceil(static_cast<double>(FViewFirst) / scale / step) * step;
    for (double tick = first; tick * scale <= static_cast<double>(FViewEnd); tick += step) {
        const int x = XOf(static_cast<std::int64_t>(std::llround(tick * scale)));
        FPicture.Rects.push_back({x, FBottom, 1, 4, kAxis});
        FPicture.Texts.push_back(
            {x, FBottom + 3, Number(tick) + (tick == 0 ? "" : unitNames[unit]),
             x - FLeft < FMetrics.CharWidth * 4 ? TPlotAlign::Left : TPlotAlign::Centre});
    }
}

void TSummaryPlotModel::Legend() {
    const int line = FMetrics.LineHeight;
    const int box = std::max(line - 4, 4);
    struct Item {
        const char* name;
        TPlotColour colour;
    };
    static const Item items[] = {
        {"I", kI}, {"P", kP}, {"B", kB}, {"IDR", kIdr}, {"kbit/s", kPlotRate}};
    // The bitrate's item only where its line is drawn.
    const auto shown = std::size(items) - (FPlot.PicturesPerSecond > 0 ? 0 : 1);
    int x = FWidth - 4;
    for (auto item = std::rbegin(items) + static_cast<std::ptrdiff_t>(std::size(items) - shown);
         item != std::rend(items); ++item) {
        const int textWidth =
            static_cast<int>(std::char_traits<char>::length(item->name)) * FMetrics.CharWidth;
        x -= textWidth;
        FPicture.Texts.push_back({x, 0, item->name, TPlotAlign::Left});
        x -= box + 3;
        FPicture.Rects.push_back({x, (line - box) / 2, box, box, item->colour});
        x -= 10;
    }
}
