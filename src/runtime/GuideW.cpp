// The model's module-level records and its lifecycle. GuideW_step is the one
// place that binds the records to the law's stage pipeline.
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

    GuideW_DW = kFreshStates;
}

void GuideW_step() { guidance_step(GuideW_U, GuideW_P, GuideW_DW, GuideW_Y); }

void GuideW_terminate() {}
