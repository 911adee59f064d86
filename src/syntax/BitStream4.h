#pragma once

#include "core/Guard.h"

#include <bit>
#include <cstdint>
#include <vector>

// Where one tree line's bits lie in the payload the reader is bound to: the first bit and
// the width; a First of -1 for a structure line, which has no bits of its own.
struct TBitSpan {
    std::int64_t First = -1;
    std::int64_t Bits = 0;
};

// Reads the payload of one NAL unit (emulation-prevention bytes already removed) bit by
// bit, most significant bit of each byte first. The reader keeps a pointer into the
// caller's buffer and never touches a byte outside the bound FSize bytes.
//
// A read that needs more bits than are left is refused: it returns 0, consumes nothing
// and sets FError, which stays set until the next successful SetData. Later reads that
// fit still succeed; the parsers rely on that to carry on with zeros.
class TBitStream4 {
  public:
    static constexpr std::int32_t kMaxLength = 1 << 28;

    TBitStream4() = default;

    // Binds the reader to length bytes at data. A null pointer or a length of 0 or less
    // is refused (kStatusFail) and the previous binding stays, as is one of kMaxLength bytes
    // or more, whose bits would not count in 32 bits.
    TStatus SetData(const std::uint8_t* data, std::int32_t length);

    std::uint32_t ReadBit() { return ReadBits(1); }
    // The next n bits as an unsigned number, first bit most significant; n from 0 to 32.
    // Written here, as ReadUE, for the common read of a few bits from within the payload,
    // which the parsers make for every element.
    std::uint32_t ReadBits(int n) {
        // Up to 25 bits lie in the four bytes from the current one, whatever the bit position.
        if (n > 0 && n <= 25 && FSize - FBytePos >= 4) {
            const std::uint32_t value = (Word() << FBitPos) >> (32 - n);
            Advance(n);
            return value;
        }
        return ReadBitsByBytes(n);
    }
    // 32 bits as two reads of 16: with 16 to 31 bits left the first half is consumed.
    std::uint32_t ReadBits32();
    std::uint32_t ReadUE() {
        // A code of up to 25 bits (12 leading zeros) read from four bytes at once.
        if (FSize - FBytePos >= 4) {
            const std::uint32_t bits = Word() << FBitPos;
            const int leading = std::countl_zero(bits);
            if (leading <= 12) {
                const int width = 2 * leading + 1;
                Advance(width);
                return (bits >> (32 - width)) - 1;
            }
        }
        return ReadUEByBytes();
    }
    std::int32_t ReadSE();
    void ByteAlign();
    // True when the current position lies before the payload's last 1 bit (the
    // rbsp_stop_one_bit), whatever the bits between.
    bool MoreRbspData() const;

    std::int32_t Size() const { return FSize; }
    std::int32_t BytePos() const { return FBytePos; }
    std::int32_t BitPos() const { return FBitPos; }
    std::int32_t Error() const { return FError; }
    std::int64_t BitsLeft() const { return FBitsLeft; }
    // Bits consumed since binding.
    std::int64_t BitsRead() const { return 8 * static_cast<std::int64_t>(FSize) - FBitsLeft; }

    // The parsers mark every tree line whose data they have read (see TElementReader);
    // only marks made before the first refused read count, so that a tree can stop where
    // the payload ran out. SetData starts the count afresh.
    void Mark(std::int32_t lines) {
        if (FError == 0) {
            FMarked += lines;
        }
    }
    std::int32_t Marked() const { return FMarked; }
    // With a log, every marked line also leaves its bits there (TElementReader), in the
    // order of the marks. The caller owns and empties it.
    void SetSpanLog(std::vector<TBitSpan>* log) { FSpanLog = log; }
    void LogSpan(const TBitSpan& span) {
        if (FError == 0 && FSpanLog != nullptr) {
            FSpanLog->push_back(span);
        }
    }

  private:
    void Refuse() { FError = -1; }
    void Advance(std::int32_t n) {
        // Within 2^31 bits, since a payload is below 2^28 bytes: 32-bit sums, which a 32-bit
        // build does in one step.
        const std::int32_t bits = FBitPos + n;
        FBytePos += bits >> 3;
        FCurrent = FData + FBytePos;
        FBitPos = bits & 7;
        FBitsLeft -= n;
    }
    // The four bytes from the current one, first most significant; four must be left.
    std::uint32_t Word() const {
        return std::uint32_t{FCurrent[0]} << 24 | std::uint32_t{FCurrent[1]} << 16 |
               std::uint32_t{FCurrent[2]} << 8 | std::uint32_t{FCurrent[3]};
    }
    // The reads of any width and any code, anywhere: refused where the payload ends.
    std::uint32_t ReadBitsByBytes(int n);
    std::uint32_t ReadUEByBytes();

    std::int32_t FSize = 0;
    std::int32_t FBytePos = 0;
    std::int32_t FBitPos = 0;
    const std::uint8_t* FCurrent = nullptr;
    std::int32_t FError = 0;
    std::int32_t FBitsLeft = 0;
    const std::uint8_t* FData = nullptr;
    std::int32_t FMarked = 0;
    std::vector<TBitSpan>* FSpanLog = nullptr;
};
