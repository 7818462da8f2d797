#pragma once
// Inside the component the Windows API comes in the one way its public structures header
// includes it (lean, without the min and max macros).
#include "XComStructs.h"
