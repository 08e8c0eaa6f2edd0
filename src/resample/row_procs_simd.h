// The vectorised row procedures, one set per instruction set. Each gives the
// same bytes as its plain twin in row_procs.cpp; null marks a pair that only
// has the plain procedure (or an instruction set this build cannot use).
#pragma once

#include <cstdint>

#include "resample/resample_context.h"

HorizontalProc Sse2HorizontalProc(int32_t channels, PixelClass sourceClass);
VerticalProc Sse2VerticalProc(int32_t channels, PixelClass destinationClass);
SumsProc Sse2SumsProc();

HorizontalProc Avx2HorizontalProc(int32_t channels, PixelClass sourceClass);
VerticalProc Avx2VerticalProc(int32_t channels, PixelClass destinationClass);
SumsProc Avx2SumsProc();
