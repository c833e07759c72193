// 2^x for a run of x at once, for callers that settle values near a rounding boundary with the
// exact power anyway: each result lies within 1e-14 of the C library's exp2, relative.
#pragma once

#include <cstdint>

// out[k] = 2^x[k] for x[k] <= 0 (minus infinity included); below -1022 the result may be 0.
// `out` may be `x`.
void Exp2Near(const double* x, double* out, int32_t count);
