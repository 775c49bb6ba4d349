/* The old name of string.h's memory functions. */
#pragma once

#include "string.h"
