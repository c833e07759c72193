#include "pipeline/PostContrast.h"

#include "lib/Common/FloatMath.h"

template <class T>
int32_t ContrastCurve(int32_t white, double c, T* tables[3]) {
    const double half = white * 0.5;
    // Positive amounts steepen around mid grey, negative ones flatten towards it.
    const double k = c >= 0 ? 1.0 / (1.0 - (white - 1) * c / white) : 1.0 + c;
    for (int32_t i = 0; i <= white; ++i) {
        const int32_t v = truncToInt32((i - half) * k);
        int32_t entry = truncToInt32(v + half);
        entry = entry < 0 ? 0 : entry > white ? white : entry;
        tables[2][i] = T(entry);
        tables[1][i] = T(entry);
        tables[0][i] = T(entry);
    }
    return 0;
}

template int32_t ContrastCurve<uint8_t>(int32_t, double, uint8_t* [3]);
template int32_t ContrastCurve<uint16_t>(int32_t, double, uint16_t* [3]);
