#pragma once

// Hex-dump lines: the digit pairs of up to 16 bytes, padded, then the bytes as text.
// The offset prefix is the hex view's business; these routines know nothing of files.

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kHexBytesPerLine = 16;
// Width of the digit pairs and their padding, before the text column.
inline constexpr int kHexColumnWidth = 50;

// Appends one line per 16 bytes of data, and one for a final shorter group. True when
// length > 0 and data and lines are given; otherwise false and nothing is appended. After
// a failure the lines made so far stay appended.
bool MemToStrLines2(const std::uint8_t* data, std::int32_t length, std::vector<std::string>* lines);

// text followed by spaces up to width characters (at most 200 of them); a longer text is
// returned as it is.
std::string PadStrRight(const std::string& text, int width);

// The byte as two uppercase hexadecimal digits.
std::string ByteToHexStr(std::uint8_t value);
