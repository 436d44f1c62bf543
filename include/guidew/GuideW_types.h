// The model's records, as plain C structures: a C or C++ host (or any
// language with a foreign-function interface) can lay them out alike.
#ifndef GUIDEW_TYPES_H
#define GUIDEW_TYPES_H

#include <stdint.h>

#include "GuideW_fields.h"

#define GUIDEW_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define GUIDEW_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define GUIDEW_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

// The records of doubles are built from the field list, where each field's
// unit and meaning are written once.
#define GUIDEW_DOUBLE_MEMBER(name, unit, description) double name;

// Inputs, in the order of the 19-value array of Guide_Control/Guide_OneStep.
typedef struct GuideWInputs {
    GUIDEW_INPUT_FIELDS(GUIDEW_DOUBLE_MEMBER)
} GuideWInputs;

// Outputs, in the order of the 4-value array of Guide_GetOutput.
typedef struct GuideWOutputs {
    GUIDEW_OUTPUT_FIELDS(GUIDEW_DOUBLE_MEMBER)
} GuideWOutputs;

// Tunable parameters, in the order of GUIDEW_PARAM_FIELDS (which gives
// each one's unit and meaning). GuideW_P holds the build-time defaults at
// load; GuideW_initialize() leaves it alone, so host changes survive a
// restart.
typedef struct GuideWParams {
    double guide_ref;
    double roll_kp;
    double roll_kd;
    double lat_max;
    double lat_min;
    double nz_max;
    double nz_min;
    double thr_table[132];
    double thr_alt_bp[11];
    double thr_spd_bp[12];
    double thr_gain;
    double thr_max;
    double thr_min;
    uint32_t thr_max_index[2];
} GuideWParams;

// States kept between steps. The law writes its flags as 0.0 or 1.0.
typedef struct GuideWStates {
    GUIDEW_STATE_FIELDS(GUIDEW_DOUBLE_MEMBER)
} GuideWStates;

#undef GUIDEW_DOUBLE_MEMBER

// Model record: the error status text, null when there is none.
typedef struct GuideWModel {
    const char* error_status;
} GuideWModel;

/* The records that are arrays of doubles, as hosts hand them over. */
enum { GUIDEW_INPUT_COUNT = 19, GUIDEW_OUTPUT_COUNT = 4, GUIDEW_STATE_COUNT = 16 };

GUIDEW_STATIC_ASSERT(sizeof(GuideWInputs) == 152, "19 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWOutputs) == 32, "4 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWParams) == 1328, "parameter record layout");
GUIDEW_STATIC_ASSERT(sizeof(GuideWStates) == 128, "16 doubles");
GUIDEW_STATIC_ASSERT(sizeof(GuideWModel) == 8, "one pointer");

#endif
