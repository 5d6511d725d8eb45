// Minimum-phase conversion of the impulse response in SpecRe (part of module FastFourier).
#pragma once

#include <cstdint>

namespace tarn {

// Replaces SpecRe[0..n] by the minimum-phase response with (nearly) the same magnitude.
// n: highest sample index to convert, odd and > 256, n + 1 <= SpecLength.
void MinimumPhase(std::int32_t n);

} // namespace tarn
