// Powers of 16-bit samples worked out from a table of logarithms in the processor's lanes,
// exact to the last level: values near a rounding boundary are settled by pow itself.
#pragma once

#include <cstdint>

// Pixels of four 16-bit samples raised to a power each: every colour sample v of pixel x whose
// exponents[x] is not 0 becomes trunc(white (v / white)^e + 0.5), as the C library's pow in
// double gives it, to the last level; samples past white count as white. Alpha, and pixels
// whose exponent is 0, stay as they are. `logs[v]` = log2(v / white) for v = 0 .. white.
// With `before` (R, G and B tables of beforeWhite + 1 entries), each colour sample first goes
// through its table as ApplyChannelTables takes it (held to the last entry), in the same pass;
// pixels whose exponent is 0 then keep the table's value.
template <class Tag>
void RaiseToPowers(typename Tag::Channel* pixels, const double* exponents, const double* logs, int32_t count,
                   const typename Tag::Channel* const* before = nullptr, int32_t beforeWhite = 0);
