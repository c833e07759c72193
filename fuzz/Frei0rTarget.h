// The frei0r filter's part of the fuzz target: the built tarnix.so loaded as a frei0r host
// loads it, and its entry points called with hostile frame sizes, parameter indexes and
// values (not numbers, infinities, huge), times that run backwards, repeat, are lost or are
// not numbers, and instances destroyed and made again at other sizes mid-stream.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frei0rTarget {

// Loads the filter, pointing it at `module`, and calls f0r_init once for the whole run.
void load(const char* filter, const char* module);
// One input (see FuzzInput.h): its operations, then every instance it left destroyed.
void run(const uint8_t* data, size_t size);

}  // namespace frei0rTarget
