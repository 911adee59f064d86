#include "syntax/BitStream4.h"

#include <bit>

#include <limits>

TStatus TBitStream4::SetData(const std::uint8_t* data, std::int32_t length) {
    return Guard("TBitStream4.SetData", kStatusFail, [&] {
        if (data == nullptr || length <= 0 || length >= kMaxLength) {
            return kStatusFail;
        }
        FData = data;
        FCurrent = data;
        FSize = length;
        FBitPos = 0;
        FBytePos = 0;
        FError = 0;
        FMarked = 0;
        FBitsLeft = 8 * length;
        return kStatusOk;
    });
}

std::uint32_t TBitStream4::ReadBitsByBytes(int n) {
    if (n < 0 || n > 32 || FBitsLeft < n) {
        Refuse();
        return 0;
    }
    if (n == 0) {
        return 0;
    }
    // Gather the whole bytes that hold the n bits (at most five), then cut them out.
    const int span = (FBitPos + n + 7) / 8;
    std::uint64_t window = 0;
    for (int i = 0; i < span; ++i) {
        window = (window << 8) | FCurrent[i];
    }
    const int below = span * 8 - FBitPos - n;
    const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
    const auto value = static_cast<std::uint32_t>((window >> below) & mask);
    Advance(n);
    return value;
}

std::uint32_t TBitStream4::ReadBits32() {
    const std::uint32_t high = ReadBits(16);
    const std::uint32_t low = ReadBits(16);
    return high * 65536u + low;
}

std::uint32_t TBitStream4::ReadUEByBytes() {
    // Count the leading zeros a byte at a time where the byte's unread bits are all zero,
    // so that a long run of zero bytes costs little.
    std::int64_t zeros = 0;
    for (;;) {
        if (FBitsLeft <= 0) {
            Refuse();
            return 0;
        }
        const unsigned unread = static_cast<unsigned>(*FCurrent) & (0xFFu >> FBitPos);
        if (unread == 0) {
            const int rest = 8 - FBitPos;
            zeros += rest;
            Advance(rest);
            continue;
        }
        // The terminating 1 lies in this byte; step over the zeros before it and the 1.
        const int bit = std::countl_zero(static_cast<std::uint8_t>(unread));
        zeros += bit - FBitPos;
        Advance(bit - FBitPos + 1);
        break;
    }
    if (zeros <= 31) {
        const int z = static_cast<int>(zeros);
        const std::uint32_t info = ReadBits(z);
        return static_cast<std::uint32_t>((std::uint64_t{1} << z) - 1 + info);
    }
    // No conforming stream has 32 or more leading zeros; 2^z - 1 + info no longer fits.
    // The code is still consumed whole (or refused like any read that does not fit), so
    // the elements after it come from the same bits as in any other decoder, and the
    // value saturates at 4294967295, which is exact for 32 zeros followed by 32 zero bits.
    if (FBitsLeft < zeros) {
        Refuse();
    } else {
        Advance(static_cast<std::int32_t>(zeros));
    }
    return std::numeric_limits<std::uint32_t>::max();
}

std::int32_t TBitStream4::ReadSE() {
    const std::uint32_t k = ReadUE();
    if (k % 2 == 1) {
        // Only the saturated 4294967295 would give 2^31; it stays at the largest value.
        const std::uint64_t magnitude = (std::uint64_t{k} + 1) / 2;
        if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
            return std::numeric_limits<std::int32_t>::max();
        }
        return static_cast<std::int32_t>(magnitude);
    }
    return -static_cast<std::int32_t>(k / 2);
}

void TBitStream4::ByteAlign() {
    if (FBitPos > 0) {
        Advance(8 - FBitPos);
    }
}

bool TBitStream4::MoreRbspData() const {
    if (FBitsLeft <= 0) {
        return false;
    }
    // The stop bit is the last 1 bit of the payload; anything before it is more data, zero
    // bits included.
    std::int32_t last = FSize - 1;
    while (last >= FBytePos && FData[last] == 0) {
        --last;
    }
    if (last < FBytePos) {
        return false;
    }
    const std::int64_t stopBit = 8 * static_cast<std::int64_t>(last) + 7 -
                                 std::countr_zero(static_cast<unsigned>(FData[last]));
    return 8 * static_cast<std::int64_t>(FBytePos) + FBitPos < stopBit;
}
