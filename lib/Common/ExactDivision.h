// Truncating integer division by a divisor that stays fixed across many pixels.
//
// The compositing kernels divide every colour channel by A = w + a_s, which depends only on
// the two alphas and so changes rarely along a row. A multiply and a shift replace the
// hardware divide: with l = ceil(log2 d) and m = floor(2^(31+l) / d) + 1, the product
// n * m >> (31 + l) equals floor(n / d) for every 0 <= n < 2^31 (Granlund and Montgomery,
// "Division by invariant integers using multiplication", 1994), and n * m < 2^63 fits.
// Numerators outside that range, and divisors outside [1, 2^31), fall back to the plain
// division, so the result is always exactly n / d truncated toward zero.
#pragma once

#include <cstdint>

class ExactDivisor {
public:
    ExactDivisor() = default;
    explicit ExactDivisor(int64_t divisor) { set(divisor); }

    void set(int64_t divisor) {
        divisor_ = divisor;
        magic_ = 0;
        if (divisor < 1 || divisor >= kLimit)
            return;
        int l = 0;
        while ((int64_t(1) << l) < divisor)
            ++l;
        shift_ = 31 + l;
        magic_ = ((uint64_t(1) << shift_) / uint64_t(divisor)) + 1;
    }

    int64_t divisor() const { return divisor_; }

    // n / divisor, truncated toward zero; 0 when the divisor is 0 (every caller's defined
    // result for an empty coverage).
    template <class Int>
    Int quotient(Int n) const {
        if (magic_ != 0) {
            if (n >= 0 && int64_t(n) < kLimit)
                return Int((uint64_t(n) * magic_) >> shift_);
            if (n < 0 && int64_t(n) > -kLimit)
                return Int(-int64_t((uint64_t(-int64_t(n)) * magic_) >> shift_));
        }
        if (divisor_ == 0)
            return 0;
        return Int(int64_t(n) / divisor_);
    }

private:
    static constexpr int64_t kLimit = int64_t(1) << 31;
    int64_t divisor_ = 0;
    uint64_t magic_ = 0;  // 0: plain division
    int shift_ = 0;
};
