#pragma once

// The plot of picture sizes over the file, worked out once for every front end: the bars
// (one per column of pixels, standing for the largest access unit that begins there and
// coloured by its type), the axes with their ticks and units, the legend, the current
// page, the band being dragged, hit testing, the tooltip's text and the zoomed range. A
// front end fills the rectangles and writes the texts the picture lists, and passes the
// mouse on.

#include "toolkit/Toolkit.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct TPlotColour {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;
    bool operator==(const TPlotColour&) const = default;
};

// The current page's shading and the band being dragged.
inline constexpr TPlotColour kPlotPage{255, 222, 130};
inline constexpr TPlotColour kPlotBand{188, 204, 240};

struct TPlotRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    TPlotColour Colour;
};

enum class TPlotAlign { Left, Centre, Right };

// A text whose line's top is at Y; X is its left edge, centre or right edge by Align.
// A line from (X1, Y1) to (X2, Y2), two pixels wide.
struct TPlotLine {
    int X1 = 0;
    int Y1 = 0;
    int X2 = 0;
    int Y2 = 0;
    TPlotColour Colour;
};

struct TPlotText {
    int X = 0;
    int Y = 0;
    std::string Text;
    TPlotAlign Align = TPlotAlign::Left;
};

// What the front end measures of its font.
struct TPlotMetrics {
    int CharWidth = 7;
    int LineHeight = 14;
};

// Everything drawn, in order: the background, then the rectangles, the lines, then the
// texts in Ink.
struct TPlotPicture {
    TPlotColour Background;
    TPlotColour Ink;
    std::vector<TPlotRect> Rects;
    std::vector<TPlotText> Texts;
    std::vector<TPlotLine> Lines;
};

// The bitrate line's colour.
inline constexpr TPlotColour kPlotRate{230, 130, 0};

// One bar as drawn: its columns and the bar of the summary it stands for.
struct TPlotColumn {
    int Left = 0;
    int Right = 0; // one past
    TSummaryBar Bar;
};

// The colour of a picture's bar: IDR, I, P or B (SP and SI as P and I).
TPlotColour PlotColourOf(std::uint32_t sliceType, bool idr);

class TSummaryPlotModel {
  public:
    // The summary's bars; the zoomed range stays while it lies within the file.
    void SetPlot(const TSummaryPlot& plot);
    void SetPage(std::int64_t first, std::int64_t end);
    void SetSize(int width, int height, TPlotMetrics metrics);
    const TSummaryPlot& Plot() const { return FPlot; }
    const TPlotPicture& Picture() const { return FPicture; }
    const std::vector<TPlotColumn>& Columns() const { return FColumns; }

    // The column under x (or within a few pixels of a thin one); none off the bars.
    const TPlotColumn* ColumnAt(int x) const;
    // The offset under x along the bottom axis.
    std::int64_t OffsetAt(int x) const;
    // The tooltip over x: the access unit's offset, type, size, and what unitText says of
    // its first slice (its POC); empty off the bars.
    std::string TipAt(int x,
                      const std::function<std::string(std::int64_t, std::int64_t)>& unitText) const;

    // The mouse: a press and release in one place is a click, which answers the offset of
    // the access unit under it; a drag across a range zooms into it.
    void Press(int x);
    void Drag(int x);
    std::optional<std::int64_t> Release(int x);
    // A bar's pictures' kbit a second of stream time, the bitrate line's value over it.
    double RateOf(const TSummaryBar& bar) const;
    // Back to the whole file.
    void ZoomOut();
    // Told the range shown whenever a drag or ZoomOut changes it.
    std::function<void(std::int64_t first, std::int64_t end)> OnViewChange;
    bool Zoomed() const { return FViewFirst != 0 || FViewEnd != FPlot.FileSize; }
    std::int64_t ViewFirst() const { return FViewFirst; }
    std::int64_t ViewEnd() const { return FViewEnd; }

  private:
    void Lay();
    int XOf(std::int64_t offset) const;
    void LayColumns();
    void Axes();
    void Legend();
    // The bitrate line over the columns, with its scale on the right.
    void RateLine();
    // A vertical scale from 0 up to the first tick at or above highest, a tick every two
    // lines: mark is told each tick and its row. Answers the scale's top.
    double Ticks(double highest, const std::function<void(double tick, int y)>& mark) const;
    int YOf(double value, double top) const;

    TSummaryPlot FPlot;
    int FWidth = 0;
    int FHeight = 0;
    TPlotMetrics FMetrics;
    // The plot's area within the widget, inside the axes.
    int FLeft = 0;
    int FTop = 0;
    int FRight = 0;
    int FBottom = 0;
    std::int64_t FViewFirst = 0;
    std::int64_t FViewEnd = 0;
    std::optional<int> FPressX;
    int FDragX = 0;
    std::vector<TPlotColumn> FColumns;
    TPlotPicture FPicture;
};
