#include "app/Driver.h"
