// The trim table's lookup, on its own: pure and re-entrant, it touches none
// of the model's records, so code that only needs the lookup (the law
// itself, a host building its own table) includes this and nothing else.
// Usable from C: the function keeps its C++ name, bound for a C compiler by
// its assembler label.
#ifndef GUIDEW_LOOKUP_H
#define GUIDEW_LOOKUP_H

#include "GuideW_types.h"

#ifdef __cplusplus
#define GUIDEW_LOOKUP_CXX_NAME(mangled)
#else
#define GUIDEW_LOOKUP_CXX_NAME(mangled) __asm__(mangled)
#endif

// Two-dimensional table lookup with linear interpolation, clipping below
// the first breakpoint and holding at the last one (no extrapolation).
// breaks0/breaks1 hold max_index[k] + 1 ascending breakpoints; the value for
// breakpoints (i0, i1) is table[i0 + stride * i1]. A NaN input selects the
// last breakpoint of its dimension. Pure and re-entrant.
GUIDEW_API double look2_binlcapw(double x0, double x1, const double* breaks0, const double* breaks1,
                                 const double* table, const uint32_t* max_index, uint32_t stride)
    GUIDEW_LOOKUP_CXX_NAME("_Z14look2_binlcapwddPKdS0_S0_PKjj");

#undef GUIDEW_LOOKUP_CXX_NAME

#endif
