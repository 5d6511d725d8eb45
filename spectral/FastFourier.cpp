#include "spectral/FastFourier.h"

#include "app/WindowOperations.h"

namespace tarn {

void PumpMessages() { Window().ProcessMessages(); }

} // namespace tarn
