// Guide: the library's plain C entry points around the GuideW model. Usable
// from C and C++.
//
// Calling order expected of a host:
//   1. GuideW_initialize() once after loading (GuideW.h).
//   2. Every 0.01 s: Guide_OneStep(inputs), then Guide_GetOutput(outputs).
//      (Or Guide_Control(inputs) and GuideW_step() separately.)
//   3. Guide_Exit() at the end.
//
// Arrays: inputs are 19 doubles in the field order of GuideWInputs, outputs
// 4 doubles in the order lat_cmd, nz_cmd, throttle_cmd, aux_out. The caller
// owns both; the library keeps no pointer to them. A null array makes the
// call do nothing.
//
// Drive these from one thread. Guide_OneStep detects a call that begins
// while another is still running (an interrupt-driven period overrunning
// the previous one, say): it then skips the step and sets the model's
// error_status to "Overrun", which only GuideW_initialize() clears.
#ifndef GUIDE_H
#define GUIDE_H

#include "GuideW.h"

#ifdef __cplusplus
extern "C" {
#endif

// Copies the 19 inputs into GuideW_U, field by field, without any check.
GUIDEW_API void Guide_Control(const double* inputs);

// Guarded step: copies the inputs and runs one model step.
GUIDEW_API void Guide_OneStep(const double* inputs);

// Copies GuideW_Y into the 4-value array.
GUIDEW_API void Guide_GetOutput(double* outputs);

// Prints a fixed message on standard output, with no newline.
GUIDEW_API void Guide_Display(void);

// Shuts the model down (nothing to release).
GUIDEW_API void Guide_Exit(void);

#ifdef __cplusplus
}
#endif

#endif
