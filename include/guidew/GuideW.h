// GuideW: fixed-step aircraft guidance law, one step every
// GUIDEW_STEP_PERIOD_S (0.01 s, GuideW_constants.h).
//
// A host loads libGuide.so, calls GuideW_initialize() once, and then every
// period either
//   - calls Guide_OneStep() with 19 inputs and Guide_GetOutput() for the
//     4 outputs (see Guide.h), or
//   - writes GuideW_U itself, calls GuideW_step() and reads GuideW_Y.
//
// All model data lives in the five module-level records below, which the
// host may read and write directly (for instance to retune a parameter in
// GuideW_P between steps; parameters are read afresh in every step).
// Nothing is allocated, nothing is validated, nothing is logged: numeric
// guards keep the arithmetic finite for sane inputs, and non-finite inputs
// flow through to the outputs.
//
// Units at the boundary: angles in degrees, speeds in m/s, altitude in m,
// load factors in g. The local level frame is x along azimuth 0, y up,
// z along azimuth 90; azimuths grow from x towards z.
// Usable from C too: the records are plain data symbols, and the model
// functions (C++ names, as the library has always exported them) are bound
// to those names for a C compiler by their assembler labels.
#ifndef GUIDEW_H
#define GUIDEW_H

#include "GuideW_constants.h"
#include "GuideW_lookup.h"
#include "GuideW_types.h"

#ifdef __cplusplus
#define GUIDEW_CXX_NAME(mangled)
#else
#define GUIDEW_CXX_NAME(mangled) __asm__(mangled)
#endif

extern GUIDEW_API GuideWInputs GuideW_U;
extern GUIDEW_API GuideWOutputs GuideW_Y;
extern GUIDEW_API GuideWParams GuideW_P;
extern GUIDEW_API GuideWStates GuideW_DW;
extern GUIDEW_API GuideWModel GuideW_M_;
extern GUIDEW_API GuideWModel* const GuideW_M;

// Clears inputs, outputs, states and the error status; sets turn_sign to 1.
// May be called again at any time to restart the model.
GUIDEW_API void GuideW_initialize(void) GUIDEW_CXX_NAME("_Z17GuideW_initializev");

// One 0.01 s step: reads GuideW_U, GuideW_P, GuideW_DW; writes GuideW_Y and
// GuideW_DW.
GUIDEW_API void GuideW_step(void) GUIDEW_CXX_NAME("_Z11GuideW_stepv");

// Releases nothing (nothing is acquired); present for the host's shutdown.
GUIDEW_API void GuideW_terminate(void) GUIDEW_CXX_NAME("_Z16GuideW_terminatev");

#undef GUIDEW_CXX_NAME

#endif
