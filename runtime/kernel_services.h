/* The kernel's services: NUVRELOS_SERVICES(X), the SVC_* numbers, NUVRELOS_COUNT_MAX and the
   string limits. The list lives with the rest of the program interface, which the host
   compiles too. */
#pragma once

#include "abi/services.h"
