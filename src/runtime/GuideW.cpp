// The model's module-level records and its lifecycle. This is the one place
// that binds the records to the stage pipeline.
#include <cstring>

#include "GuideW.h"
#include "guidance_stages.h"

GuideWInputs GuideW_U;
GuideWOutputs GuideW_Y;
GuideWStates GuideW_DW;
GuideWModel GuideW_M_;
GuideWModel* const GuideW_M = &GuideW_M_;

void GuideW_initialize() {
    GuideW_M->error_status = nullptr;
    std::memset(&GuideW_DW, 0, sizeof GuideW_DW);
    std::memset(&GuideW_U, 0, sizeof GuideW_U);
    std::memset(&GuideW_Y, 0, sizeof GuideW_Y);

    // A fresh model has no manoeuvre in progress; the rear turn, should it
    // ever be forced to a direction before one is latched, turns right.
    GuideW_DW.splits_active = 0.0;
    GuideW_DW.splits_pull = 0.0;
    GuideW_DW.turn_sign = 1.0;
    GuideW_DW.inverted_latch = 0.0;
    GuideW_DW.upright_latch = 0.0;
    GuideW_DW.splits_timer = 0.0;
    GuideW_DW.sign_latch = 0.0;
    GuideW_DW.bank_captured = 0.0;
    GuideW_DW.front_roll_err = 0.0;
    GuideW_DW.was_behind = 0.0;
    GuideW_DW.front_entry_roll = 0.0;
    GuideW_DW.splits_bank = 0.0;
    GuideW_DW.orbit_yaw_ref = 0.0;
    GuideW_DW.orbit_alt_ref = 0.0;
    GuideW_DW.orbit_latched = 0.0;
    GuideW_DW.ext_bank_latch = 0.0;
}

void GuideW_step() {
    guidance_step(GuideW_U, GuideW_P, GuideW_DW, GuideW_Y);
}

void GuideW_terminate() {}
