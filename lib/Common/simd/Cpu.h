// Which vector width the kernels may use, decided once per process.
#pragma once

namespace cpu {

// The processor and the system (which must save the wide registers) support AVX2, and
// nothing has held the kernels to SSE2.
bool hasAvx2();
// hasAvx2(), and the processor fuses multiply and add (every AVX2 processor made so far).
bool hasFma();

// hasAvx2(), and the processor permutes bytes across 512-bit registers (AVX-512 VBMI, with
// the system saving those registers): a 256-entry byte table looked up 64 bytes at a time.
bool hasAvx512Vbmi();

// Holds every kernel to its SSE2 path while set: the tests run both widths on one machine.
void holdToSse2(bool hold);

}  // namespace cpu
