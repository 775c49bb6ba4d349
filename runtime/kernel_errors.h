/* The kernel's error numbers, NUVRELOS_ERRORS(X): the list lives with the rest of the program
   interface, which the host compiles too. */
#pragma once

#include "abi/errors.h"
