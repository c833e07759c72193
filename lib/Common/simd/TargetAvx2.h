// Marks the functions defined between TX_BEGIN_AVX2 and TX_END_AVX2 as compiled for AVX2, in
// either compiler: they may use AVX2 intrinsics and must only run after cpu::hasAvx2().
#pragma once

#if defined(__clang__)
#define TX_BEGIN_AVX2 _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TX_END_AVX2 _Pragma("clang attribute pop")
#else
#define TX_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TX_END_AVX2 _Pragma("GCC pop_options")
#endif
