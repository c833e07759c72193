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

// hasFma(), and the processor has AVX-512's foundation, its 256-bit forms and its byte and word
// operations (with the system saving the 512-bit and mask registers).
bool hasAvx512();

// Holds every kernel to its SSE2 path while set: the tests run every width on one machine.
void holdToSse2(bool hold);
// Holds every kernel to AVX2 at most while set.
void holdToAvx2(bool hold);

}  // namespace cpu
