#include "decode/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace {

// Where the overlay draws: the pixels, and the scale from picture pixels to them.
struct TCanvas {
    TRgbPixels& Rgb;
    double Sx;
    double Sy;

    // A colour at alpha of 256 in two lanes each: red and blue, and green, as Mix adds it.
    struct TShare {
        std::uint32_t Rb;
        std::uint32_t G;
        std::uint32_t Keep;
    };
    static TShare Share(std::uint32_t colour, int alpha) {
        const auto a = static_cast<std::uint32_t>(alpha);
        return {(colour & 0xFF00FF) * a, (colour & 0xFF00) * a, 256 - a};
    }
    static void Mix(std::uint32_t& pixel, const TShare& over) {
        const std::uint32_t rb = (((pixel & 0xFF00FF) * over.Keep + over.Rb) >> 8) & 0xFF00FF;
        const std::uint32_t g = (((pixel & 0xFF00) * over.Keep + over.G) >> 8) & 0xFF00;
        pixel = 0xFF000000 | rb | g;
    }
    void Blend(int x, int y, std::uint32_t colour, int alpha) {
        Fill(x, y, x + 1, y + 1, colour, alpha);
    }
    void Fill(int x0, int y0, int x1, int y1, std::uint32_t colour, int alpha) {
        const TShare over = Share(colour, alpha);
        x0 = std::max(x0, 0);
        x1 = std::min(x1, Rgb.Width);
        for (int y = std::max(y0, 0); y < std::min(y1, Rgb.Height); ++y) {
            std::uint32_t* row = Rgb.Pixels.data() +
                                 static_cast<std::size_t>(y) * static_cast<std::size_t>(Rgb.Width);
            for (int x = x0; x < x1; ++x) {
                Mix(row[x], over);
            }
        }
    }
    void Line(int x0, int y0, int x1, int y1, std::uint32_t colour) {
        const int dx = std::abs(x1 - x0);
        const int dy = -std::abs(y1 - y0);
        const int stepX = x0 < x1 ? 1 : -1;
        const int stepY = y0 < y1 ? 1 : -1;
        int error = dx + dy;
        for (;;) {
            Blend(x0, y0, colour, 256);
            if (x0 == x1 && y0 == y1) {
                return;
            }
            const int twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += stepX;
            }
            if (twice <= dx) {
                error += dx;
                y0 += stepY;
            }
        }
    }
    int X(double pictureX) const { return static_cast<int>(std::lround(pictureX * Sx)); }
    int Y(double pictureY) const { return static_cast<int>(std::lround(pictureY * Sy)); }
};

template <typename TVisit> void EachMacroblock(const TMacroblockMap& map, TVisit visit) {
    for (int y = 0; y < map.HeightMbs; ++y) {
        for (int x = 0; x < map.WidthMbs; ++x) {
            visit(x, y, map.Mbs[static_cast<std::size_t>(y * map.WidthMbs + x)]);
        }
    }
}

void DrawVector(TCanvas& canvas, int mbX, int mbY, const TMotionVector& v, double length) {
    const double cx = mbX * 16 + v.X + v.W / 2.0;
    const double cy = mbY * 16 + v.Y + v.H / 2.0;
    const int x0 = canvas.X(cx);
    const int y0 = canvas.Y(cy);
    const double ex = v.Dx4 / 4.0 * canvas.Sx * length;
    const double ey = v.Dy4 / 4.0 * canvas.Sy * length;
    const int x1 = x0 + static_cast<int>(std::lround(ex));
    const int y1 = y0 + static_cast<int>(std::lround(ey));
    const std::uint32_t colour = v.List == 0 ? kList0Colour : kList1Colour;
    canvas.Line(x0, y0, x1, y1, colour);
    const double norm = std::hypot(ex, ey);
    if (norm < 3) {
        return; // too short for a head
    }
    // The head at the reference end, two strokes at 30 degrees.
    const double ux = ex / norm;
    const double uy = ey / norm;
    const double head = std::min(4.0, norm / 2);
    for (const double side : {0.5, -0.5}) {
        const double hx = -ux * 0.866 - uy * side;
        const double hy = -uy * 0.866 + ux * side;
        canvas.Line(x1, y1, x1 + static_cast<int>(std::lround(hx * head)),
                    y1 + static_cast<int>(std::lround(hy * head)), colour);
    }
}

// Digits of three by five dots, a row in three bits each, top row first.
constexpr std::uint16_t kDigits[] = {
    075557, 022222, 071747, 071717, 055711, 074717, 074757, 071111, 075757, 075717,
};
constexpr std::uint16_t kMinus = 000700;

void DrawNumber(TCanvas& canvas, int x, int y, int value, int dot) {
    std::string text = std::to_string(value);
    for (const char c : text) {
        const std::uint16_t glyph = c == '-' ? kMinus : kDigits[static_cast<std::size_t>(c - '0')];
        for (int row = 0; row < 5; ++row) {
            for (int col = 0; col < 3; ++col) {
                if ((glyph >> ((4 - row) * 3 + (2 - col)) & 1) != 0) {
                    canvas.Fill(x + col * dot, y + row * dot, x + (col + 1) * dot,
                                y + (row + 1) * dot, 0xFFFFFFFF, 256);
                }
            }
        }
        x += 4 * dot;
    }
}

// The ramp from the lowest QP to the highest with both numbers, on a dark box.
void DrawLegend(TCanvas& canvas, int minQp, int maxQp) {
    const int dot = canvas.Rgb.Height >= 200 ? 2 : 1;
    const int pad = 2 * dot;
    const int digitsWidth = 4 * dot * 3;
    const int barWidth = std::min(64 * dot, canvas.Rgb.Width / 3);
    const int height = 5 * dot + 2 * pad;
    const int width = 2 * digitsWidth + barWidth + 4 * pad;
    const int top = canvas.Rgb.Height - height;
    canvas.Fill(0, top, width, canvas.Rgb.Height, 0xFF000000, 192);
    DrawNumber(canvas, pad, top + pad, minQp, dot);
    const int barLeft = pad + digitsWidth + pad;
    for (int i = 0; i < barWidth; ++i) {
        const int qp = minQp + (maxQp - minQp) * i / std::max(1, barWidth - 1);
        canvas.Fill(barLeft + i, top + pad, barLeft + i + 1, top + pad + 5 * dot,
                    QpColour(qp, minQp, maxQp), 256);
    }
    DrawNumber(canvas, barLeft + barWidth + pad, top + pad, maxQp, dot);
}

} // namespace

std::optional<unsigned> ParseOverlayItems(const std::string& list) {
    if (list.empty()) {
        return std::nullopt; // names no item: a slip, not a wish for a bare picture
    }
    unsigned items = 0;
    std::istringstream keys(list);
    for (std::string key; std::getline(keys, key, ',');) {
        const auto* found = std::find_if(std::begin(kOverlayItems), std::end(kOverlayItems),
                                         [&](const TOverlayItemName& n) { return key == n.Key; });
        if (found == std::end(kOverlayItems)) {
            return std::nullopt;
        }
        items |= found->Item;
    }
    return items;
}

std::uint32_t QpColour(int qp, int minQp, int maxQp) {
    const double t =
        maxQp > minQp ? std::clamp(double(qp - minQp) / double(maxQp - minQp), 0.0, 1.0) : 0.5;
    // Blue to cyan to green to yellow to red, in four equal steps.
    const double scaled = t * 4;
    const int step = std::min(3, static_cast<int>(scaled));
    const auto up = static_cast<std::uint32_t>(std::lround((scaled - step) * 255));
    const std::uint32_t down = 255 - up;
    const std::uint32_t rgb[4] = {(up << 8) | 0xFF, 0xFF00 | down, (up << 16) | 0xFF00,
                                  0xFF0000 | (down << 8)};
    return 0xFF000000 | rgb[step];
}

void DrawOverlay(const TMacroblockMap& map, unsigned items, int pictureWidth, int pictureHeight,
                 TRgbPixels& rgb) {
    if (items == 0 || pictureWidth <= 0 || pictureHeight <= 0 || rgb.Width <= 0 ||
        rgb.Height <= 0) {
        return;
    }
    // A map without the macroblocks' coding would show every one as intra without vectors.
    if (!map.CodingKnown) {
        items &= kOverlayGrid | kOverlaySlices;
    }
    TCanvas canvas{rgb, double(rgb.Width) / pictureWidth, double(rgb.Height) / pictureHeight};
    const auto box = [&](int x, int y, std::uint32_t colour, int alpha) {
        canvas.Fill(canvas.X(x * 16), canvas.Y(y * 16), canvas.X(x * 16 + 16),
                    canvas.Y(y * 16 + 16), colour, alpha);
    };
    if ((items & kOverlayQp) != 0) {
        EachMacroblock(map, [&](int x, int y, const TMacroblock& mb) {
            if (mb.Qp >= 0) {
                box(x, y, QpColour(mb.Qp, map.MinQp, map.MaxQp), 112);
            }
        });
    }
    if ((items & kOverlayIntra) != 0) {
        EachMacroblock(map, [&](int x, int y, const TMacroblock& mb) {
            if (mb.Intra()) {
                box(x, y, kIntraColour, 96);
            }
        });
    }
    // A grid finer than four pixels would hide the picture.
    if ((items & kOverlayGrid) != 0 && 16 * canvas.Sx >= 4 && 16 * canvas.Sy >= 4) {
        for (int x = 1; x < map.WidthMbs; ++x) {
            canvas.Fill(canvas.X(x * 16), 0, canvas.X(x * 16) + 1, rgb.Height, kGridColour, 96);
        }
        for (int y = 1; y < map.HeightMbs; ++y) {
            canvas.Fill(0, canvas.Y(y * 16), rgb.Width, canvas.Y(y * 16) + 1, kGridColour, 96);
        }
    }
    if ((items & kOverlaySlices) != 0) {
        EachMacroblock(map, [&](int x, int y, const TMacroblock& mb) {
            const TMacroblock* right = map.At(x + 1, y);
            const TMacroblock* below = map.At(x, y + 1);
            if (right != nullptr && right->Slice != mb.Slice) {
                const int at = canvas.X((x + 1) * 16);
                canvas.Fill(at - 1, canvas.Y(y * 16), at + 1, canvas.Y(y * 16 + 16), kSliceColour,
                            256);
            }
            if (below != nullptr && below->Slice != mb.Slice) {
                const int at = canvas.Y((y + 1) * 16);
                canvas.Fill(canvas.X(x * 16), at - 1, canvas.X(x * 16 + 16), at + 1, kSliceColour,
                            256);
            }
        });
    }
    if ((items & kOverlayVectors) != 0) {
        const double length = std::max(1.0, 1.0 / std::min(canvas.Sx, canvas.Sy));
        EachMacroblock(map, [&](int x, int y, const TMacroblock& mb) {
            for (std::uint32_t i = 0; i < mb.VectorCount; ++i) {
                DrawVector(canvas, x, y, map.Vectors[mb.FirstVector + i], length);
            }
        });
    }
    if ((items & kOverlayQp) != 0) {
        DrawLegend(canvas, map.MinQp, map.MaxQp);
    }
}

std::string QuarterPelText(std::int32_t quarters) {
    std::string text = std::to_string(quarters / 4);
    if (quarters < 0 && quarters > -4) {
        text = "-0";
    }
    static const char* const kFractions[] = {"", ".25", ".5", ".75"};
    return text + kFractions[std::abs(quarters) % 4];
}

std::string MacroblockText(const TMacroblockMap& map, int x, int y) {
    if (x < 0 || y < 0) {
        return {};
    }
    const TMacroblock* mb = map.At(x / 16, y / 16);
    if (mb == nullptr) {
        return {};
    }
    std::string text = "MB " + std::to_string(y / 16 * map.WidthMbs + x / 16) + " (x " +
                       std::to_string(x / 16) + ", y " + std::to_string(y / 16) + ")";
    if (mb->Qp >= 0) {
        text += " QP " + std::to_string(mb->Qp);
    }
    if (mb->Slice >= 0) {
        text += " slice " + std::to_string(mb->Slice);
    }
    if (mb->Intra()) {
        return text + " intra";
    }
    // The vector of the block under the pointer for each list.
    for (std::uint32_t i = 0; i < mb->VectorCount; ++i) {
        const TMotionVector& v = map.Vectors[mb->FirstVector + i];
        const int inX = x % 16;
        const int inY = y % 16;
        if (inX >= v.X && inX < v.X + v.W && inY >= v.Y && inY < v.Y + v.H) {
            text += " L" + std::to_string(v.List) + " (" + QuarterPelText(v.Dx4) + ", " +
                    QuarterPelText(v.Dy4) + ")";
        }
    }
    return text;
}
