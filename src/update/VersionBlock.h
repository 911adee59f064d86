#pragma once

// The version block of an executable (the VS_VERSIONINFO layout of Windows version
// resources): built at compile time for the program's own block, found in an executable
// file, and queried by sub-block path the way the platform's version functions do.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
inline constexpr std::uint16_t kFixedFileInfoSize = 52;

// The platform's VS_FIXEDFILEINFO record.
struct TFixedFileInfo {
    std::uint32_t dwSignature = 0;
    std::uint32_t dwStrucVersion = 0;
    std::uint32_t dwFileVersionMS = 0;
    std::uint32_t dwFileVersionLS = 0;
    std::uint32_t dwProductVersionMS = 0;
    std::uint32_t dwProductVersionLS = 0;
    std::uint32_t dwFileFlagsMask = 0;
    std::uint32_t dwFileFlags = 0;
    std::uint32_t dwFileOS = 0;
    std::uint32_t dwFileType = 0;
    std::uint32_t dwFileSubtype = 0;
    std::uint32_t dwFileDateMS = 0;
    std::uint32_t dwFileDateLS = 0;
};
static_assert(sizeof(TFixedFileInfo) == kFixedFileInfoSize);

// What goes into a version block.
struct TVersionBlockFields {
    std::uint16_t Major = 0;
    std::uint16_t Minor = 0;
    std::uint16_t Release = 0;
    std::uint16_t Build = 0;
    std::uint32_t FileFlags = 0;
    // Bytes of the fixed file information written: the whole record, or fewer for a
    // damaged block, or none.
    std::uint16_t FixedInfoBytes = kFixedFileInfoSize;
    bool HasTranslation = true;
};

inline constexpr std::size_t kVersionBlockCapacity = 256;

// A version block in a fixed-size image; the block's own length field says how much of
// the image it takes.
struct TVersionBlockImage {
    std::array<std::uint8_t, kVersionBlockCapacity> Bytes{};
    std::size_t Size = 0;

    constexpr void Put16(std::size_t at, std::uint16_t v) {
        Bytes[at] = static_cast<std::uint8_t>(v & 0xFF);
        Bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    constexpr void Add16(std::uint16_t v) {
        Put16(Size, v);
        Size += 2;
    }
    constexpr void Add32(std::uint32_t v) {
        Add16(static_cast<std::uint16_t>(v & 0xFFFF));
        Add16(static_cast<std::uint16_t>(v >> 16));
    }
    constexpr void Align() {
        while (Size % 4 != 0) {
            Bytes[Size++] = 0;
        }
    }
    // Starts a node: length (filled in by EndNode), value length, type (0 binary, 1 text),
    // key in UTF-16.
    constexpr std::size_t BeginNode(std::string_view key, std::uint16_t valueLength,
                                    std::uint16_t type = 0) {
        Align();
        const std::size_t start = Size;
        Add16(0);
        Add16(valueLength);
        Add16(type);
        for (const char c : key) {
            Add16(static_cast<std::uint16_t>(c));
        }
        Add16(0);
        Align();
        return start;
    }
    constexpr void EndNode(std::size_t start) {
        Put16(start, static_cast<std::uint16_t>(Size - start));
    }
};

constexpr TVersionBlockImage BuildVersionBlock(const TVersionBlockFields& f) {
    TVersionBlockImage image;
    const std::size_t root = image.BeginNode("VS_VERSION_INFO", f.FixedInfoBytes);
    const std::uint32_t ms = (std::uint32_t{f.Major} << 16) | f.Minor;
    const std::uint32_t ls = (std::uint32_t{f.Release} << 16) | f.Build;
    const std::array<std::uint32_t, 13> fixed = {kFixedFileInfoSignature,
                                                 0x00010000u,
                                                 ms,
                                                 ls,
                                                 ms,
                                                 ls,
                                                 0x3Fu,       // every flag bit is meaningful
                                                 f.FileFlags, //
                                                 0x00040004u, // 32-bit Windows
                                                 1u,          // an application
                                                 0u,
                                                 0u,
                                                 0u};
    const std::size_t fixedStart = image.Size;
    for (const std::uint32_t v : fixed) {
        image.Add32(v);
    }
    image.Size = fixedStart + f.FixedInfoBytes;
    if (f.HasTranslation) {
        const std::size_t varFileInfo =
            image.BeginNode("VarFileInfo", 0, 1); // typed as text, as the resource compiler does
        const std::size_t translation = image.BeginNode("Translation", 4);
        image.Add16(0x0409); // U.S. English
        image.Add16(1252);   // Western European code page
        image.EndNode(translation);
        image.EndNode(varFileInfo);
    }
    image.EndNode(root);
    return image;
}

// The first version block in the file at path; empty when the file cannot be read or
// holds none.
std::vector<std::uint8_t> ReadVersionBlock(const std::string& path);

// Looks up the value of subBlock in block: "\" for the fixed file information,
// "\VarFileInfo\Translation" for the translation table, names compared without regard
// to case. False when the path does not lead to a value of at least one byte.
bool QueryVersionValue(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                       const std::uint8_t*& value, std::uint32_t& length);
