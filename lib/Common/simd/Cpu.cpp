#include "lib/Common/simd/Cpu.h"

#include <atomic>

namespace cpu {

namespace {

std::atomic<bool> held{false}, heldToAvx2{false};

bool detectAvx2() {
    // The runtime's check also asks the system whether it saves the 256-bit registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool detectFma() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
}

bool detectAvx512Vbmi() {
    // As for AVX2, the runtime's check includes the system's saving of the 512-bit and mask
    // registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

bool detectAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
}

}  // namespace

bool hasAvx512Vbmi() {
    static const bool detected = detectAvx512Vbmi();
    return detected && hasAvx2() && !heldToAvx2.load(std::memory_order_relaxed);
}

bool hasAvx512() {
    static const bool detected = detectAvx512();
    return detected && hasFma() && !heldToAvx2.load(std::memory_order_relaxed);
}

bool hasFma() {
    static const bool detected = detectFma();
    return detected && hasAvx2();
}

bool hasAvx2() {
    static const bool detected = detectAvx2();
    return detected && !held.load(std::memory_order_relaxed);
}

void holdToSse2(bool hold) { held.store(hold, std::memory_order_relaxed); }
void holdToAvx2(bool hold) { heldToAvx2.store(hold, std::memory_order_relaxed); }

}  // namespace cpu
