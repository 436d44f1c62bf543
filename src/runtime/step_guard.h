// The re-entry counter of Guide_OneStep (Guide.cpp), for the code that must
// see or set it: the wrapper itself, and the tests and the fuzz target that
// make a late period arrive. Not exported from libGuide.so (the version
// script keeps only the public entry points).
#ifndef STEP_GUARD_H
#define STEP_GUARD_H

#include <cstdint>

// A plain byte that wraps modulo 256. It detects nesting on one thread; it
// is not a lock between threads.
extern uint8_t l_u8_TaskLock_Flag;

#endif
