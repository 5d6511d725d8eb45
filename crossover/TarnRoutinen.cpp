#include "crossover/TarnRoutinen.h"
