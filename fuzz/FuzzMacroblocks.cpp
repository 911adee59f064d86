// Any bytes as access units to the slice-start reader (parameter sets learnt on the way, as
// the decoder learns them), the starts numbered over a macroblock map, and the overlay drawn
// from a map made of the same bytes. The oracle restates the slice rule independently: a
// macroblock of slice s lies at or after s's start in s's own counting, with no later start
// of the same counting in between; the overlay keeps every pixel opaque.

#include "decode/Macroblocks.h"
#include "decode/Overlay.h"

#include "FuzzSupport.h"

#include <cstdint>

namespace {

std::uint32_t UnitOf(int x, int y, int width, TSliceLayout layout) {
    const int row = layout == TSliceLayout::Frame ? y : y / 2;
    return static_cast<std::uint32_t>(row * width + x);
}

bool InLayout(int y, TSliceLayout layout) {
    return (layout != TSliceLayout::TopField || y % 2 == 0) &&
           (layout != TSliceLayout::BottomField || y % 2 == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    if (size < 4) {
        return 0;
    }
    static TSliceStartReader reader; // parameter sets carry over, as in a decoder's run
    if (data[0] == 0xFF) {
        reader.Reset();
    }
    std::vector<TSliceStart> starts;
    reader.Read(data, size, starts);

    TMacroblockMap map;
    map.WidthMbs = 1 + data[1] % 12;
    map.HeightMbs = 1 + data[2] % 12;
    map.Mbs.resize(static_cast<std::size_t>(map.WidthMbs * map.HeightMbs));
    AssignSlices(starts, map);
    FuzzCheck(map.SliceCount == static_cast<int>(starts.size()), "every slice counts");
    for (int y = 0; y < map.HeightMbs; ++y) {
        for (int x = 0; x < map.WidthMbs; ++x) {
            const int s = map.At(x, y)->Slice;
            if (s < 0) {
                continue;
            }
            FuzzCheck(s < map.SliceCount, "a slice index names a slice");
            const TSliceStart& own = starts[static_cast<std::size_t>(s)];
            FuzzCheck(InLayout(y, own.Layout), "a field's slice covers its field's rows");
            const std::uint32_t unit = UnitOf(x, y, map.WidthMbs, own.Layout);
            FuzzCheck(own.FirstMb <= unit, "a macroblock lies at or after its slice's start");
            for (const TSliceStart& other : starts) {
                FuzzCheck(other.Layout != own.Layout || other.FirstMb <= own.FirstMb ||
                              other.FirstMb > unit,
                          "no start of the same counting lies between");
            }
        }
    }

    // The same bytes as QPs and vectors of the map, drawn at a size of their choosing.
    std::size_t at = 3;
    for (TMacroblock& mb : map.Mbs) {
        const std::uint8_t byte = data[at++ % size];
        mb.Qp = byte % 64 - 1;
        mb.FirstVector = static_cast<std::uint32_t>(map.Vectors.size());
        mb.VectorCount = byte % 3;
        for (std::uint32_t i = 0; i < mb.VectorCount; ++i) {
            const std::uint8_t b = data[at++ % size];
            TMotionVector v;
            v.List = b & 1;
            v.W = (b & 2) != 0 ? 8 : 16;
            v.H = (b & 4) != 0 ? 8 : 16;
            v.X = static_cast<std::uint8_t>((b & 8) != 0 ? 16 - v.W : 0);
            v.Y = static_cast<std::uint8_t>((b & 16) != 0 ? 16 - v.H : 0);
            v.Dx4 = static_cast<std::int8_t>(data[at++ % size]) * 37;
            v.Dy4 = static_cast<std::int8_t>(data[at++ % size]) * 37;
            map.Vectors.push_back(v);
        }
    }
    map.MinQp = 0;
    map.MaxQp = data[3] % 64;
    TRgbPixels rgb;
    rgb.Width = 1 + data[at++ % size] % 200;
    rgb.Height = 1 + data[at++ % size] % 200;
    rgb.Pixels.assign(static_cast<std::size_t>(rgb.Width * rgb.Height), 0xFF808080);
    DrawOverlay(map, data[at % size] % 32, map.WidthMbs * 16 - data[1] % 16,
                map.HeightMbs * 16 - data[2] % 16, rgb);
    for (const std::uint32_t pixel : rgb.Pixels) {
        FuzzCheck((pixel >> 24) == 0xFF, "the overlay keeps every pixel opaque");
    }
    for (int y = -1; y <= map.HeightMbs * 16; y += 7) {
        for (int x = -1; x <= map.WidthMbs * 16; x += 5) {
            const bool inside = x >= 0 && y >= 0 && x < map.WidthMbs * 16 && y < map.HeightMbs * 16;
            FuzzCheck(MacroblockText(map, x, y).empty() != inside,
                      "a macroblock is named inside the picture only");
        }
    }
    return 0;
}
