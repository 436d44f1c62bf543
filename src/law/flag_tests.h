// The tests of the state flags, each named for the values it accepts.
//
// The law writes its flags as 0.0 or 1.0, but a host may write any double
// into the states, and then the form of a test decides the outcome: a flag of
// 0.3 is neither "== 1" nor "== 0", but it is "!= 0"; a NaN fails every
// comparison except "!= 0"; 0.5 is neither above nor below one half. Each
// test in the law is written through one of these helpers, so the rule it
// follows shows at the call site and grep finds every flag test, as the limit
// helpers of numeric_helpers.h do for the order of a limit's bounds.
//
// The choice of test for each flag is part of the law: results are compared
// to the last bit, states included, so never swap one helper for another.
#ifndef FLAG_TESTS_H
#define FLAG_TESTS_H

#include "law_constants.h"

// Exactly 1: only the law's own "set" value; 0.3, 2 and NaN are not set.
inline bool flag_is_one(double flag) { return flag == 1.0; }

// Exactly 0 (either sign): only the law's own "clear" value; 0.3 and NaN are
// not clear.
inline bool flag_is_zero(double flag) { return flag == 0.0; }

// Anything but 0: 0.3, -1 and NaN all count as set.
inline bool flag_is_nonzero(double flag) { return flag != 0.0; }

// The mode latches are read against one half. Above it counts as set ...
inline bool flag_above_half(double flag) { return flag > kModeLatchHalf; }

// ... below it as clear; exactly 0.5 and NaN are neither.
inline bool flag_below_half(double flag) { return flag < kModeLatchHalf; }

#endif
