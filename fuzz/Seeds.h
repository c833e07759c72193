// Hand-made starting inputs: every stage alone and all together in both depths and orders,
// frame-number runs, faults, renders the effect refuses, long frames, render scales near 0, a
// cold start, and frei0r sessions. The target writes them when TARNIX_FUZZ_SEEDS names a
// folder, then exits. The committed corpus grew from them.
#pragma once

#include <functional>
#include <string>

namespace seeds {

// `indexOf` gives a parameter's place in the settings record by its identifier, or -1.
void write(const std::string& folder, const std::function<int(const char*)>& indexOf);

}  // namespace seeds
