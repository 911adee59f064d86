#pragma once

// Exact integers wider than 64 bits, for the buffer model's times: a time is a count of
// 1/D seconds, D a common multiple of 90000, the tick's time_scale and the bit rate, which
// can reach 2^102. The 32-bit Windows build has no native 128-bit integer, so this is two
// 64-bit halves. A result that leaves the range is marked, and the mark travels through
// every operation after it: the model looks once per access unit and stops with a reason.

#include <cstdint>
#include <string>

class TExact {
  public:
    constexpr TExact() = default;
    constexpr TExact(std::int64_t value) // NOLINT: an integer is an exact value
        : FHi(value < 0 ? ~std::uint64_t{0} : 0), FLo(static_cast<std::uint64_t>(value)) {}

    // The value out of range: every operation with it gives it again.
    static TExact OutOfRange();
    bool Out() const { return FOut; }
    bool Negative() const { return (FHi >> 63) != 0; }
    bool FitsInt64() const;
    // The value when it fits in 64 bits; the nearest bound otherwise.
    std::int64_t ToInt64() const;

    friend TExact operator+(const TExact& a, const TExact& b);
    friend TExact operator-(const TExact& a, const TExact& b);
    friend TExact operator-(const TExact& a);
    friend TExact operator*(const TExact& a, const TExact& b);
    friend bool operator==(const TExact& a, const TExact& b) {
        return a.FHi == b.FHi && a.FLo == b.FLo && a.FOut == b.FOut;
    }
    friend bool operator<(const TExact& a, const TExact& b);
    friend bool operator>(const TExact& a, const TExact& b) { return b < a; }
    friend bool operator<=(const TExact& a, const TExact& b) { return !(b < a); }
    friend bool operator>=(const TExact& a, const TExact& b) { return !(a < b); }

    // Floor of a / d and a - d * floor(a / d) (in [0, d)), for d > 0; out of range
    // otherwise.
    static TExact DivFloor(const TExact& a, const TExact& d, TExact* remainder = nullptr);
    // Ceiling of a / d for d > 0.
    static TExact DivCeil(const TExact& a, const TExact& d);
    static TExact Gcd(TExact a, TExact b);

    // In decimal; "out of range" when marked.
    std::string Decimal() const;
    // a / d (d > 0) in decimal with `digits` digits after the point, rounded toward minus
    // infinity: what the output shows of a time.
    static std::string Fraction(const TExact& a, const TExact& d, int digits);

  private:
    std::uint64_t FHi = 0;
    std::uint64_t FLo = 0;
    bool FOut = false;
};
