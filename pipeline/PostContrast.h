// Post contrast: one curve around mid grey for the finished frame, applied per channel
// through the instance's three curve tables.
#pragma once

#include <cstdint>

// Fills entries 0..white of the third table and copies each into the second and first.
// c = contrastAmount / 100; white 255 for one-byte tables, 16384 or 32768 for two-byte ones.
template <class T>
int32_t ContrastCurve(int32_t white, double c, T* tables[3]);
