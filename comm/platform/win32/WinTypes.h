#pragma once
// Inside the component the whole Windows API comes in one way: lean, without the min and max
// macros. Its public structures header (XComStructs.h) gives callers only what they need.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "XComStructs.h"
