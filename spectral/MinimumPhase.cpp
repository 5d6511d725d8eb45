#include "spectral/MinimumPhase.h"

#include "crossover/Tarndef.h"

namespace tarn {

void MinimumPhase(std::int32_t) {
    throw TarnError("Minimum phase is not available in this build");
}

} // namespace tarn
