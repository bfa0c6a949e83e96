// Conversions of fractional values to whole numbers as the program makes them everywhere:
// to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
#pragma once

#include <cstdint>

namespace lumivo {

// Rounds half to even without touching the floating-point environment (std::nearbyint is a
// library call on baseline x86-64 and dominates the per-sample cost of the analysis).
// Adding and removing 2^52 leaves a value whose last mantissa bit has weight 1, so the
// addition itself rounds to the nearest integer with ties to even; magnitudes of 2^52 or more
// are whole numbers already. Assumes the default rounding mode.
inline double RoundHalfEven(double v) {
    constexpr double kTwo52 = 4503599627370496.0;
    const double a = v < 0.0 ? -v : v;
    if (!(a < kTwo52)) return v;  // whole already, or NaN
    const double r = (a + kTwo52) - kTwo52;
    return v < 0.0 ? -r : r;
}

// Rounds half to even into a 16-bit table entry, saturating at the 16-bit limits (a value
// beyond them is clamped instead of wrapping). NaN gives 0.
inline std::int16_t RoundToInt16(double v) {
    if (v != v) return 0;
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return static_cast<std::int16_t>(RoundHalfEven(v));
}

// The same conversion kept in a double (a whole number in -32768..32767), for vectorised loops
// that hold 16-bit table entries as doubles. Not defined for NaN.
inline double RoundToInt16Value(double v) {
    v = v < -32768.0 ? -32768.0 : v;
    v = v > 32767.0 ? 32767.0 : v;
    // Within +-2^51, adding 1.5 x 2^52 lands where the last mantissa bit has weight 1; the
    // magic number is even, so ties still go to the even neighbour.
    constexpr double kMagic = 6755399441055744.0;
    return (v + kMagic) - kMagic;
}

// Rounds half to even into a 32-bit value, saturating at the 32-bit limits; NaN gives 0.
inline std::int32_t RoundToInt32(double v) {
    if (v != v) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(RoundHalfEven(v));
}

// Half-to-even rounding of the quotient num / den of two whole numbers (den > 0), exactly.
// Equals RoundHalfEven(double(num) / den) whenever both fit a double without loss, because a
// correctly rounded division can neither create nor remove an exact half.
inline std::int64_t DivideRoundHalfEven(std::int64_t num, std::int64_t den) {
    std::int64_t q = num / den;
    std::int64_t r = num % den;
    if (r < 0) {  // floor division
        r += den;
        --q;
    }
    const std::int64_t twice = 2 * r;
    if (twice > den || (twice == den && (q & 1) != 0)) ++q;
    return q;
}

// RoundHalfEven(sum / 30.0) for a sum of 30 16-bit values (|sum| <= 30 x 32768), without a
// division: the offset makes the sum non-negative without changing its remainder or the parity
// of its quotient (983040 = 30 x 32768); below 2^21 the sum is exact in a float, and the float
// product with 1/30 plus 1/60 stays within 0.012 of u / 30 + 1/60, so truncating it gives the
// floor quotient exactly (checked for every sum by the tests). The remainder then decides the
// rounding. A correctly rounded division can neither create nor remove an exact half, so the
// result equals RoundHalfEven(sum / 30.0). Written without branches so that loops over several
// channels vectorise.
inline std::int32_t RoundedMeanOf30(std::int32_t sum) {
    const std::int32_t u = sum + 983040;
    const auto q =
        static_cast<std::int32_t>(static_cast<float>(u) * (1.0f / 30.0f) + (1.0f / 60.0f));
    const std::int32_t twice_rest = 2 * (u - 30 * q);
    const std::int32_t up = static_cast<std::int32_t>(twice_rest > 30) |
                            (static_cast<std::int32_t>(twice_rest == 30) & q);
    return q + up - 32768;
}

}  // namespace lumivo
