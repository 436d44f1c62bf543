// The library's exported C entry points and the overrun guard of the step.
#include "Guide.h"

#include <cstdint>
#include <cstdio>

#include "step_guard.h"

uint8_t l_u8_TaskLock_Flag = 0;

static const char* const kOverrunText = "Overrun";

extern "C" {

void Guide_Control(const double* inputs) {
    if (inputs == nullptr) return;
    // Field by field, in the order of the field list.
    const double* next = inputs;
#define GUIDE_COPY_IN(name, unit, description) GuideW_U.name = *next++;
    GUIDEW_INPUT_FIELDS(GUIDE_COPY_IN)
#undef GUIDE_COPY_IN
}

void Guide_OneStep(const double* inputs) {
    // A null array is no period at all: it must not look like an overrun.
    if (inputs == nullptr) return;

    const uint8_t running = l_u8_TaskLock_Flag;
    l_u8_TaskLock_Flag = static_cast<uint8_t>(running + 1u);
    if (running != 0u) {
        // The previous period has not finished: skip this one and leave the
        // counter raised, so every later call reports too until it wraps.
        GuideW_M->error_status = kOverrunText;
        return;
    }
    Guide_Control(inputs);
    GuideW_step();
    l_u8_TaskLock_Flag = static_cast<uint8_t>(l_u8_TaskLock_Flag - 1u);
}

void Guide_GetOutput(double* outputs) {
    if (outputs == nullptr) return;
    double* next = outputs;
#define GUIDE_COPY_OUT(name, unit, description) *next++ = GuideW_Y.name;
    GUIDEW_OUTPUT_FIELDS(GUIDE_COPY_OUT)
#undef GUIDE_COPY_OUT
}

void Guide_Display(void) { (void)std::printf("HAHA ! FINALLY YOU FIND IT !"); }

void Guide_Exit(void) { GuideW_terminate(); }
}
