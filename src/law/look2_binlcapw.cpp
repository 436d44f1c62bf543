// Two-dimensional table lookup: binary search for the interval in each
// dimension, linear interpolation, clip below the first breakpoint and hold
// at the last one. Never extrapolates and never reads outside the grid.
// All index arithmetic is unsigned 32-bit.
#include "GuideW_lookup.h"

namespace {

struct Interval {
    uint32_t index;
    double fraction;
};

// Finds i with b[i] <= x < b[i + 1] and the fraction of x across it. An input
// at or below b[0] gives (0, 0); at or above b[m], or NaN, gives (m, 0).
// An input equal to an interior breakpoint starts the interval there.
Interval find_interval(double x, const double* b, uint32_t m) {
    if (x <= b[0]) return Interval{0u, 0.0};
    if (!(x < b[m])) return Interval{m, 0.0};

    uint32_t lo = 0u;
    uint32_t hi = m;
    uint32_t probe = m >> 1u;
    // Each halving picks its bound by a conditional move, not a branch:
    // which half the input lies in is as likely one as the other.
    while (hi - lo > 1u) {
        const bool below = x < b[probe];
        hi = below ? probe : hi;
        lo = below ? lo : probe;
        probe = (hi + lo) >> 1u;
    }
    return Interval{lo, (x - b[lo]) / (b[lo + 1u] - b[lo])};
}

// Interpolates along dimension 0 from position base; the last entry of the
// dimension is taken directly, without reading a neighbour.
double along_dim0(const double* table, uint32_t base, const Interval& i0, uint32_t max0) {
    if (i0.index == max0) return table[base];
    return (table[base + 1u] - table[base]) * i0.fraction + table[base];
}

}  // namespace

double look2_binlcapw(double x0, double x1, const double* breaks0, const double* breaks1,
                      const double* table, const uint32_t* max_index, uint32_t stride) {
    const Interval i0 = find_interval(x0, breaks0, max_index[0]);
    const Interval i1 = find_interval(x1, breaks1, max_index[1]);

    uint32_t base = i0.index + stride * i1.index;
    const double y_lower = along_dim0(table, base, i0, max_index[0]);
    if (i1.index == max_index[1]) return y_lower;

    base = base + stride;
    const double y_upper = along_dim0(table, base, i0, max_index[0]);
    return (y_upper - y_lower) * i1.fraction + y_lower;
}
