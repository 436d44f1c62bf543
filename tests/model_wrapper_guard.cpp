// The overrun guard of the periodic step: a period that arrives while the
// previous one is still running is skipped and reported, never half-run.
// The wrapper unit is compiled in here so its file-local counter is in reach.
#include <gtest/gtest.h>

#include <cstring>

#include "../src/runtime/Guide.cpp"
#include "test_support.h"

namespace {

struct StepGuard : ::testing::Test {
    double in[19];  // level flight, pass-through value 7
    void SetUp() override {
        l_u8_TaskLock_Flag = 0;
        GuideW_initialize();
        GuideWInputs u = level_flight();
        u.aux_in = 7.0;
        std::memcpy(in, &u, sizeof in);
    }
    void TearDown() override { l_u8_TaskLock_Flag = 0; GuideW_initialize(); }
};

TEST_F(StepGuard, PeriodOnTimeStepsAndLowersTheCounter) {
    Guide_OneStep(in);
    EXPECT_EQ(GuideW_U.aux_in, 7.0); EXPECT_EQ(GuideW_Y.aux_out, 7.0);
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
    EXPECT_EQ(GuideW_M->error_status, nullptr);
}

TEST_F(StepGuard, PeriodArrivingDuringAnotherIsSkippedAndReported) {
    l_u8_TaskLock_Flag = 1;  // the previous period is still inside its step
    Guide_OneStep(in);
    EXPECT_EQ(GuideW_U.aux_in, 0.0);   // inputs not taken
    EXPECT_EQ(GuideW_Y.aux_out, 0.0);  // model not stepped
    EXPECT_STREQ(GuideW_M->error_status, "Overrun");
    EXPECT_EQ(l_u8_TaskLock_Flag, 2);
    Guide_OneStep(nullptr);  // no array is no period: not counted
    EXPECT_EQ(l_u8_TaskLock_Flag, 2);
    GuideW_initialize();  // a restart is the only way to clear the report
    EXPECT_EQ(GuideW_M->error_status, nullptr);
}

TEST_F(StepGuard, StuckCounterRejectsUntilItWrapsThenStepsAgain) {
    l_u8_TaskLock_Flag = 255;
    Guide_OneStep(in);
    EXPECT_STREQ(GuideW_M->error_status, "Overrun");
    EXPECT_EQ(GuideW_U.aux_in, 0.0);
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
    Guide_OneStep(in);
    EXPECT_EQ(std::memcmp(&GuideW_U, in, sizeof in), 0); EXPECT_EQ(GuideW_Y.aux_out, 7.0);
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
    EXPECT_STREQ(GuideW_M->error_status, "Overrun");  // the step itself never clears it
}

}  // namespace
