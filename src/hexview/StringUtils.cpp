#include "hexview/StringUtils.h"

#include "core/Guard.h"

#include <algorithm>

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::int64_t kMaxPadding = 200;

// The character shown for a byte in the text column: the byte itself, one 8-bit character
// that the window shows as Windows-1252, or "." where that would show nothing useful.
char ByteToTextChar(std::uint8_t value) {
    // Control characters would break the column's alignment, and the five bytes that
    // Windows-1252 leaves unassigned have no glyph to show.
    switch (value) {
    case 0x7F:
    case 0x81:
    case 0x8D:
    case 0x8F:
    case 0x90:
    case 0x9D:
        return '.';
    default:
        return value < 0x20 ? '.' : static_cast<char>(value);
    }
}
} // namespace

std::string ByteToHexStr(std::uint8_t value) {
    return {kHexDigits[value >> 4], kHexDigits[value & 0x0F]};
}

std::string PadStrRight(const std::string& text, int width) {
    const auto missing = std::int64_t{width} - static_cast<std::int64_t>(text.size());
    const auto padding = std::clamp<std::int64_t>(missing, 0, kMaxPadding);
    return text + std::string(static_cast<std::size_t>(padding), ' ');
}

bool MemToStrLines2(const std::uint8_t* data, std::int32_t length,
                    std::vector<std::string>* lines) {
    return Guard("MemToStrLines2", false, [&] {
        if (data == nullptr || lines == nullptr || length <= 0) {
            return false;
        }
        for (std::int32_t first = 0; first < length; first += kHexBytesPerLine) {
            const std::int32_t count = std::min(kHexBytesPerLine, length - first);
            std::string digits;
            std::string text;
            digits.reserve(3 * kHexBytesPerLine);
            text.reserve(kHexBytesPerLine);
            for (std::int32_t i = first; i < first + count; ++i) {
                digits += ByteToHexStr(data[i]);
                digits += ' ';
                text += ByteToTextChar(data[i]);
            }
            lines->push_back(PadStrRight(digits, kHexColumnWidth) + text);
        }
        return true;
    });
}
