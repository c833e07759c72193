// Single-precision maths as the narrowed double function: correctly rounded in all but
// vanishing cases, and so the same on every platform's maths library.
#pragma once

#include <cmath>

namespace fm {
inline float sinF(float x) { return float(std::sin(double(x))); }
inline float cosF(float x) { return float(std::cos(double(x))); }
inline float powF(float x, float y) { return float(std::pow(double(x), double(y))); }
inline float expF(float x) { return float(std::exp(double(x))); }
inline float logF(float x) { return float(std::log(double(x))); }
inline float atan2F(float y, float x) { return float(std::atan2(double(y), double(x))); }
inline float sqrtF(float x) { return std::sqrt(x); }  // IEEE: correctly rounded in float already
}  // namespace fm
