#pragma once

// The window scan and the three start-code searches as pure functions over a buffer.
// The main window reads the blocks; these kernels serve it, the command line, the tests
// and the benchmarks alike.

#include "stream/H264Utils.h"

#include <cstdint>

inline constexpr std::int32_t kWindowScanSize = 5242880;      // 5 MiB
inline constexpr std::int32_t kForwardSearchSize = 2097152;   // 2 MiB
inline constexpr std::int32_t kPreviousSearchSize = 2097152;  // 2 MiB (+4 bytes read)
inline constexpr std::int32_t kBackCountSearchSize = 4194304; // 4 MiB (+4 bytes read)

// Scans n bytes that were read from file offset base into locators, at most capacity of
// them (but always the one whose start code begins at byte 0, if any). Each NAL unit is
// measured to the next start code or to the end of the block. A start code whose header
// byte lies past the block gets NalHeader 0 and a StartCodeWord as if that byte were 0;
// HeaderOutsideBlock tells the caller so that it can fetch the byte. Returns the number
// of locators written.
std::int32_t ScanNalUnits(const std::uint8_t* buffer, std::int32_t n, std::int64_t base,
                          std::int32_t capacity, TNalUnitLocator* locators);

// True when the locator's header byte lay past the n bytes of a block read from base.
bool HeaderOutsideBlock(const TNalUnitLocator& locator, std::int64_t base, std::int32_t n);

// Sets the header byte of a locator (and the StartCodeWord of a three-byte start code).
void SetLocatorHeader(TNalUnitLocator& locator, std::uint8_t header);

// The first start code beginning at a position 0..n-4 (position 0 is always examined).
bool FindFirstStartCode(const std::uint8_t* buffer, std::int32_t n, std::int32_t& index);

// Counting backward from position n-4, the count-th start code met (the one at or before
// n-4 is the first). A three-byte match that is the tail of 00 00 00 01 is reported at the
// four-byte code's first zero, and only then: further zeros before it are not part of it.
// When fewer than count are met, index is the earliest one met and the result is still
// true; false when none is met. A count below 1 reports the earliest one. met, when given,
// receives how many were met.
bool FindStartCodeBackward(const std::uint8_t* buffer, std::int32_t n, std::int32_t count,
                           std::int32_t& index, std::int32_t* met = nullptr);
