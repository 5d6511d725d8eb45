// A direct, literal implementation of the cepstral minimum-phase conversion, step by
// step and loop by loop, with its own sine table and its own radix-2 FFT. It shares no
// code with the production conversion, whose results it checks.
#pragma once

#include <cstdint>
#include <vector>

#include "spectral/MinimumPhase.h"

namespace tarn::oracle {

// How the power spectrum is floored before its logarithm.
enum class FloorRule {
    ExactZeros, // the rule: only a power of exactly 0.0 becomes 1e-16 x peak
    BelowFloor, // a plausible mistake: every power below 1e-16 x peak becomes the floor
};

// The conversion of x (n + 1 = x.size() samples, n odd and > 256); returns the n + 1
// converted samples.
std::vector<double> MinimumPhase(const std::vector<double>& x,
                                 FloorRule rule = FloorRule::ExactZeros);

// The table-driven FFT of the conversion for a table of the given period, with the
// twiddles looked up butterfly group by butterfly group as written.
void CepstrumFFT(std::vector<TComplex>& data, std::int32_t count, std::int32_t sign, bool scale,
                 std::int32_t period);

} // namespace tarn::oracle
