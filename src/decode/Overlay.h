#pragma once

// What is drawn over a picture from its macroblock map: the items, their names in the menu
// and on the command line, their colours, the QP legend, and the line that names the
// macroblock under the pointer. Drawn into the picture's pixels, so that the window, the
// Windows program and quillet-dump show the same.

#include "decode/Macroblocks.h"
#include "decode/PictureDecoder.h"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

enum TOverlayItem : unsigned {
    kOverlayQp = 1,
    kOverlayIntra = 2,
    kOverlayVectors = 4,
    kOverlayGrid = 8,
    kOverlaySlices = 16,
};

struct TOverlayItemName {
    TOverlayItem Item;
    const char* Key;  // in --overlay's list
    const char* Menu; // View > Overlay's item, with its accelerator
};
inline constexpr TOverlayItemName kOverlayItems[] = {
    {kOverlayQp, "qp", "&QP Heat Map"},
    {kOverlayIntra, "intra", "&Intra Macroblocks"},
    {kOverlayVectors, "mv", "&Motion Vectors"},
    {kOverlayGrid, "grid", "Macroblock &Grid"},
    {kOverlaySlices, "slices", "&Slice Boundaries"},
};
inline constexpr std::size_t kOverlayItemCount = std::size(kOverlayItems);

// The items of a comma-separated list of keys ("qp,mv,grid,slices"); none when a key is
// not one of them, or the list is empty.
std::optional<unsigned> ParseOverlayItems(const std::string& list);

// Colours, 0xFFRRGGBB.
inline constexpr std::uint32_t kIntraColour = 0xFFFF3080;
inline constexpr std::uint32_t kList0Colour = 0xFF40FF40;
inline constexpr std::uint32_t kList1Colour = 0xFF40C0FF;
inline constexpr std::uint32_t kGridColour = 0xFF000000;
inline constexpr std::uint32_t kSliceColour = 0xFFFFFF00;

// The heat of qp between the picture's lowest and highest: blue, through green, to red.
std::uint32_t QpColour(int qp, int minQp, int maxQp);

// Draws items of map over rgb, a picture of pictureWidth x pictureHeight shown at rgb's
// size. Vectors keep their length in the picture's pixels when it is shown smaller, so
// that they stay visible. The QP legend sits in the lower left corner.
void DrawOverlay(const TMacroblockMap& map, unsigned items, int pictureWidth, int pictureHeight,
                 TRgbPixels& rgb);

// The macroblock at picture pixel (x, y): "MB 25 (x 3, y 2) QP 30 intra", or with its
// vectors "... L0 (+4, 0) L1 (-0.25, 1.5)"; empty outside the picture.
std::string MacroblockText(const TMacroblockMap& map, int x, int y);

// A vector component in pixels from quarter pixels: "4", "-0.25", "1.5".
std::string QuarterPelText(std::int32_t quarters);
