#include "decode/PngWriter.h"
#include "decode/RgbConversion.h"

// PNG files of the Windows program, which has no encoding library: the pixels go into
// deflate's stored blocks, uncompressed, which every PNG reader takes. Larger files, but no
// compressor to carry for pictures a user writes one at a time.

#include <algorithm>
#include <array>

namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> kTable = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            table[n] = c;
        }
        return table;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc = kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.insert(out.end(), {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                           static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
    Put32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t from = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32(png, Crc32(png.data() + from, png.size() - from, 0));
}

// 8-bit RGB rows, each after its filter byte (none), in a zlib stream of stored blocks,
// written where they go: a picture of the largest size leaves little of the address space.
void Encode(const TRgbPixels& rgb, std::vector<std::uint8_t>& png) {
    const std::size_t rowBytes = 1 + 3 * static_cast<std::size_t>(rgb.Width);
    const std::size_t rawBytes = rowBytes * static_cast<std::size_t>(rgb.Height);
    const std::size_t blocks = (rawBytes + 65534) / 65535;
    png.clear();
    png.reserve(8 + 25 + 12 + 2 + 5 * blocks + rawBytes + 4 + 12);
    png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    Put32(header, static_cast<std::uint32_t>(rgb.Width));
    Put32(header, static_cast<std::uint32_t>(rgb.Height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(png, "IHDR", header);
    const std::size_t chunk = png.size();
    Put32(png, static_cast<std::uint32_t>(2 + 5 * blocks + rawBytes + 4));
    png.insert(png.end(), {'I', 'D', 'A', 'T', 0x78, 0x01});
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    std::size_t done = 0;
    for (std::size_t block = 0; block < blocks; ++block) {
        const std::size_t n = std::min<std::size_t>(rawBytes - done, 65535);
        png.insert(png.end(), {static_cast<std::uint8_t>(block + 1 == blocks ? 1 : 0),
                               static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                               static_cast<std::uint8_t>(~n), static_cast<std::uint8_t>(~n >> 8)});
        for (const std::size_t end = done + n; done < end; ++done) {
            // A row's filter byte, then red, green and blue of each pixel.
            const std::size_t column = done % rowBytes;
            const std::size_t pixel = done / rowBytes * static_cast<std::size_t>(rgb.Width) +
                                      (column - 1) / 3;
            const auto byte = column == 0 ? std::uint8_t{0}
                                          : static_cast<std::uint8_t>(
                                                rgb.Pixels[pixel] >> (16 - 8 * ((column - 1) % 3)));
            png.push_back(byte);
            a = (a + byte) % 65521;
            b = (b + a) % 65521;
        }
    }
    Put32(png, (b << 16) | a);
    Put32(png, Crc32(png.data() + chunk + 4, png.size() - chunk - 4, 0));
    Chunk(png, "IEND", {});
}

} // namespace

bool PictureToPng(const TPicture& picture, std::vector<std::uint8_t>& png, std::string& error) {
    TRgbPixels rgb;
    // At the picture's own size, as the other builds write it: its samples' shape unapplied.
    if (!PictureToRgb32At(picture, picture.Width, picture.Height, rgb)) {
        error = "the picture cannot be converted to RGB";
        return false;
    }
    Encode(rgb, png);
    return true;
}

bool RgbToPng(const TRgbPixels& rgb, std::vector<std::uint8_t>& png, std::string& error) {
    if (rgb.Width <= 0 || rgb.Height <= 0) {
        error = "no picture";
        return false;
    }
    Encode(rgb, png);
    return true;
}
