// Single-precision maths as the narrowed double function: correctly rounded in all but
// vanishing cases, and so the same on every platform's maths library.
#pragma once

#include <cmath>
#include <cstdint>

namespace fm {
inline float sinF(float x) { return float(std::sin(double(x))); }
inline float cosF(float x) { return float(std::cos(double(x))); }
inline float powF(float x, float y) { return float(std::pow(double(x), double(y))); }
inline float expF(float x) { return float(std::exp(double(x))); }
inline float logF(float x) { return float(std::log(double(x))); }
inline float atan2F(float y, float x) { return float(std::atan2(double(y), double(x))); }
inline float sqrtF(float x) { return std::sqrt(x); }  // IEEE: correctly rounded in float already
}  // namespace fm

// x86 truncation of a double to int32: NaN and out-of-range values give INT32_MIN, defined here.
inline int32_t truncToInt32(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return int32_t(v);
}
