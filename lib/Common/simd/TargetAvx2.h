// Marks the functions defined between TX_BEGIN_AVX2 and TX_END_AVX2 as compiled for AVX2, in
// either compiler: they may use AVX2 intrinsics and must only run after cpu::hasAvx2().
// TX_BEGIN_AVX2_FMA adds fused multiply-add, for functions that run only after cpu::hasFma();
// TX_BEGIN_AVX512_VBMI the byte permutes of AVX-512, for those run after cpu::hasAvx512Vbmi();
// TX_BEGIN_AVX512 AVX-512's foundation, vector lengths and byte and word operations with AVX2
// and fused multiply-add, for those run after cpu::hasAvx512().
#pragma once

#if defined(__clang__)
#define TX_BEGIN_AVX2 _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define TX_BEGIN_AVX2_FMA _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define TX_BEGIN_AVX512_VBMI \
    _Pragma("clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vbmi\"))), apply_to = function)")
#define TX_BEGIN_AVX512 \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,fma,avx512f,avx512vl,avx512bw\"))), apply_to = function)")
#define TX_END_AVX2 _Pragma("clang attribute pop")
#else
#define TX_BEGIN_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define TX_BEGIN_AVX2_FMA _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define TX_BEGIN_AVX512_VBMI _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vbmi\")")
#define TX_BEGIN_AVX512 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma,avx512f,avx512vl,avx512bw\")")
#define TX_END_AVX2 _Pragma("GCC pop_options")
#endif
