#pragma once

// quillet-dump --hrd, --what-if and --levels: the buffer model and the level limits over
// the whole stream, in one walk with fixed memory.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

class FileStream;

// The user's figures for a stream without its own: bits per second, bits, and the initial
// removal delay in 90 kHz units (the time to fill the buffer at the rate when not given),
// with an optional frame rate as a fraction.
struct TWhatIf {
    std::uint64_t BitRate = 0;
    std::uint64_t CpbSize = 0;
    std::optional<std::uint64_t> Delay90k;
    std::uint32_t FrameRateNum = 0; // 0: the stream's own
    std::uint32_t FrameRateDen = 1;
};

// RATE,SIZE[,DELAY[,FPS]]: RATE and SIZE whole numbers (bits per second, bits; k and M
// suffixes for thousands and millions), DELAY seconds as a decimal, FPS a whole number or a
// fraction N/D. None when the text is not that.
std::optional<TWhatIf> ParseWhatIf(const std::string& text);

// The exit status of the two checks: 0 conforming, 3 not (output written either way).
inline constexpr int kNotConforming = 3;

int PrintHrd(FileStream& stream, bool json, const std::optional<TWhatIf>& whatIf,
             std::ostream& out);
int PrintLevels(FileStream& stream, std::ostream& out);
