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
    GuideW_U.speed_cmd = inputs[0];
    GuideW_U.elev_cmd = inputs[1];
    GuideW_U.azim_cmd = inputs[2];
    GuideW_U.ext_weight = inputs[3];
    GuideW_U.ext_nz = inputs[4];
    GuideW_U.ext_bank = inputs[5];
    GuideW_U.ext_throttle = inputs[6];
    GuideW_U.mode = inputs[7];
    GuideW_U.yaw = inputs[8];
    GuideW_U.pitch = inputs[9];
    GuideW_U.roll = inputs[10];
    GuideW_U.tas = inputs[11];
    GuideW_U.vel_up = inputs[12];
    GuideW_U.vel_north = inputs[13];
    GuideW_U.vel_east = inputs[14];
    GuideW_U.roll_rate = inputs[15];
    GuideW_U.altitude = inputs[16];
    GuideW_U.ext_lat = inputs[17];
    GuideW_U.aux_in = inputs[18];
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
    outputs[0] = GuideW_Y.lat_cmd;
    outputs[1] = GuideW_Y.nz_cmd;
    outputs[2] = GuideW_Y.throttle_cmd;
    outputs[3] = GuideW_Y.aux_out;
}

void Guide_Display(void) {
    (void)std::printf("HAHA ! FINALLY YOU FIND IT !");
}

void Guide_Exit(void) {
    GuideW_terminate();
}

}
