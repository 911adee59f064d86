#include "model/Exact.h"

#include <algorithm>

namespace {

using U64 = std::uint64_t;

// An unsigned 128-bit magnitude.
struct TMag {
    U64 Hi = 0;
    U64 Lo = 0;
};

bool Less(const TMag& a, const TMag& b) {
    return a.Hi != b.Hi ? a.Hi < b.Hi : a.Lo < b.Lo;
}

TMag Minus(const TMag& a, const TMag& b) {
    return {a.Hi - b.Hi - (a.Lo < b.Lo ? 1 : 0), a.Lo - b.Lo};
}

// The full product of two 64-bit values, from 32-bit pieces.
TMag Product(U64 a, U64 b) {
    const U64 aLo = a & 0xFFFFFFFFu;
    const U64 aHi = a >> 32;
    const U64 bLo = b & 0xFFFFFFFFu;
    const U64 bHi = b >> 32;
    const U64 ll = aLo * bLo;
    const U64 lh = aLo * bHi;
    const U64 hl = aHi * bLo;
    const U64 hh = aHi * bHi;
    const U64 mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    return {hh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xFFFFFFFFu)};
}

// Quotient and remainder of unsigned magnitudes, d non-zero.
void Divide(const TMag& a, const TMag& d, TMag& q, TMag& r) {
    if (a.Hi == 0 && d.Hi == 0) {
        q = {0, a.Lo / d.Lo};
        r = {0, a.Lo % d.Lo};
        return;
    }
    q = {};
    r = {};
    if (Less(a, d)) {
        r = a;
        return;
    }
    for (int bit = 127; bit >= 0; --bit) {
        r = {(r.Hi << 1) | (r.Lo >> 63), r.Lo << 1};
        const U64 in = bit >= 64 ? (a.Hi >> (bit - 64)) & 1 : (a.Lo >> bit) & 1;
        r.Lo |= in;
        if (!Less(r, d)) {
            r = Minus(r, d);
            if (bit >= 64) {
                q.Hi |= U64{1} << (bit - 64);
            } else {
                q.Lo |= U64{1} << bit;
            }
        }
    }
}

} // namespace

TExact TExact::OutOfRange() {
    TExact e;
    e.FOut = true;
    return e;
}

bool TExact::FitsInt64() const {
    return !FOut && (FHi == 0 ? (FLo >> 63) == 0 : FHi == ~U64{0} && (FLo >> 63) != 0);
}

std::int64_t TExact::ToInt64() const {
    if (FitsInt64()) {
        return static_cast<std::int64_t>(FLo);
    }
    return Negative() ? INT64_MIN : INT64_MAX;
}

TExact operator+(const TExact& a, const TExact& b) {
    if (a.FOut || b.FOut) {
        return TExact::OutOfRange();
    }
    TExact s;
    s.FLo = a.FLo + b.FLo;
    s.FHi = a.FHi + b.FHi + (s.FLo < a.FLo ? 1 : 0);
    // Two values of one sign whose sum has the other left the range.
    if (a.Negative() == b.Negative() && s.Negative() != a.Negative()) {
        return TExact::OutOfRange();
    }
    return s;
}

TExact operator-(const TExact& a) {
    if (a.FOut || (a.FHi == (U64{1} << 63) && a.FLo == 0)) {
        return TExact::OutOfRange();
    }
    TExact n;
    n.FLo = ~a.FLo + 1;
    n.FHi = ~a.FHi + (n.FLo == 0 ? 1 : 0);
    return n;
}

TExact operator-(const TExact& a, const TExact& b) {
    return a + (-b);
}

namespace {

TMag Magnitude(const TExact& v, bool& negative, U64 hi, U64 lo) {
    negative = v.Negative();
    if (!negative) {
        return {hi, lo};
    }
    const U64 nLo = ~lo + 1;
    return {~hi + (nLo == 0 ? 1 : 0), nLo};
}

} // namespace

TExact operator*(const TExact& a, const TExact& b) {
    if (a.FOut || b.FOut) {
        return TExact::OutOfRange();
    }
    bool aNeg = false;
    bool bNeg = false;
    const TMag x = Magnitude(a, aNeg, a.FHi, a.FLo);
    const TMag y = Magnitude(b, bNeg, b.FHi, b.FLo);
    if (x.Hi != 0 && y.Hi != 0) {
        return TExact::OutOfRange();
    }
    // One factor fits in 64 bits: small * (big.Hi * 2^64 + big.Lo).
    const U64 small = x.Hi == 0 ? x.Lo : y.Lo;
    const TMag big = x.Hi == 0 ? y : x;
    const TMag low = Product(small, big.Lo);
    const TMag high = Product(small, big.Hi);
    const U64 hi = low.Hi + high.Lo;
    if (high.Hi != 0 || hi < low.Hi || (hi >> 63) != 0) {
        return TExact::OutOfRange();
    }
    TExact p;
    p.FHi = hi;
    p.FLo = low.Lo;
    return aNeg != bNeg ? -p : p;
}

bool operator<(const TExact& a, const TExact& b) {
    if (a.Negative() != b.Negative()) {
        return a.Negative();
    }
    return a.FHi != b.FHi ? a.FHi < b.FHi : a.FLo < b.FLo;
}

TExact TExact::DivFloor(const TExact& a, const TExact& d, TExact* remainder) {
    if (a.FOut || d.FOut || d <= TExact(0)) {
        if (remainder != nullptr) {
            *remainder = OutOfRange();
        }
        return OutOfRange();
    }
    bool aNeg = false;
    bool dNeg = false;
    const TMag x = Magnitude(a, aNeg, a.FHi, a.FLo);
    const TMag y = Magnitude(d, dNeg, d.FHi, d.FLo);
    TMag q;
    TMag r;
    Divide(x, y, q, r);
    TExact quotient;
    quotient.FHi = q.Hi;
    quotient.FLo = q.Lo;
    TExact rest;
    rest.FHi = r.Hi;
    rest.FLo = r.Lo;
    if (aNeg) {
        // -(q d + r) = -(q + 1) d + (d - r) when r is not zero.
        quotient = -quotient;
        if (rest != TExact(0)) {
            quotient = quotient - TExact(1);
            rest = d - rest;
        }
    }
    if (remainder != nullptr) {
        *remainder = rest;
    }
    return quotient;
}

TExact TExact::DivCeil(const TExact& a, const TExact& d) {
    TExact r;
    const TExact q = DivFloor(a, d, &r);
    return r.FOut || r == TExact(0) ? q : q + TExact(1);
}

TExact TExact::Gcd(TExact a, TExact b) {
    if (a.Negative()) {
        a = -a;
    }
    if (b.Negative()) {
        b = -b;
    }
    while (!a.FOut && !b.FOut && b != TExact(0)) {
        TExact r;
        DivFloor(a, b, &r);
        a = b;
        b = r;
    }
    return a;
}

std::string TExact::Decimal() const {
    if (FOut) {
        return "out of range";
    }
    if (FitsInt64()) {
        return std::to_string(static_cast<std::int64_t>(FLo));
    }
    const bool negative = Negative();
    TExact v = negative ? -*this : *this;
    std::string digits;
    const TExact ten(10);
    while (v != TExact(0)) {
        TExact r;
        v = DivFloor(v, ten, &r);
        digits.push_back(static_cast<char>('0' + r.FLo));
    }
    if (negative) {
        digits.push_back('-');
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string TExact::Fraction(const TExact& a, const TExact& d, int digits) {
    TExact r;
    const TExact whole = DivFloor(a, d, &r);
    if (whole.Out()) {
        return "out of range";
    }
    std::string text = whole.Decimal();
    if (digits > 0) {
        text += '.';
    }
    for (int i = 0; i < digits; ++i) {
        const TExact q = DivFloor(r * TExact(10), d, &r);
        text += q.Out() ? '?' : static_cast<char>('0' + q.ToInt64());
    }
    return text;
}
