// The overrun guard of the periodic step: a period that arrives while the
// previous one is still running is skipped and reported, never half-run.
// The wrapper's counter is in reach through its internal header, and the
// step it calls is wrapped at link time (see CMakeLists.txt) so that a test
// can make a host's late period arrive while a step is running.
#include <gtest/gtest.h>

#include <cstring>

#include "Guide.h"
#include "step_guard.h"
#include "law_constants.h"
#include "test_support.h"

namespace {
int nested_calls_left = 0;  // periods that arrive during the next step
const double* nested_inputs = nullptr;
}  // namespace

extern "C" void __real__Z11GuideW_stepv();
extern "C" void __wrap__Z11GuideW_stepv() {
    while (nested_calls_left > 0) {
        --nested_calls_left;
        Guide_OneStep(nested_inputs);
    }
    __real__Z11GuideW_stepv();
}

namespace {

struct StepGuard : ::testing::Test {
    double in[GUIDEW_INPUT_COUNT];  // level flight, pass-through value 7
    void SetUp() override {
        l_u8_TaskLock_Flag = 0;
        GuideW_initialize();
        GuideWInputs u = level_flight();
        u.aux_in = 7.0;
        std::memcpy(in, &u, sizeof in);
        nested_inputs = in;
    }
    void TearDown() override {
        l_u8_TaskLock_Flag = 0;
        nested_calls_left = 0;
        GuideW_initialize();
    }
    // One period whose aux_in marks it: true when its inputs were taken.
    bool period_runs(double mark) {
        in[GUIDEW_INPUT_COUNT - 1] = mark;
        Guide_OneStep(in);
        return GuideW_U.aux_in == mark && GuideW_Y.aux_out == mark;
    }
};

TEST_F(StepGuard, PeriodOnTimeStepsAndLowersTheCounter) {
    EXPECT_TRUE(period_runs(7.0));
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
    EXPECT_EQ(GuideW_M->error_status, nullptr);
    Guide_OneStep(nullptr);  // no array is no period: not counted
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
}

// One period arriving during a step is rejected and leaves the 8-bit counter
// one count raised when that step ends; every later period then finds it
// raised, is skipped and reported, and raises it further, until it wraps to 0
// after 255 skipped periods (2.55 s at 100 Hz). A restart in between clears
// the report but not the counter.
TEST_F(StepGuard, OneNestedCallSkipsTheNext255PeriodsRestartOrNot) {
    nested_calls_left = 1;
    EXPECT_TRUE(period_runs(1.0));  // the interrupted step itself completes
    EXPECT_STREQ(GuideW_M->error_status, "Overrun");
    EXPECT_EQ(l_u8_TaskLock_Flag, 1);
    int skipped = 0;
    for (int period = 2; !period_runs(period); ++period) {
        ASSERT_STREQ(GuideW_M->error_status, "Overrun") << "period " << period;
        ++skipped;
        ASSERT_LT(skipped, 1000);
        if (period == 100) GuideW_initialize();  // the host restarts the model
    }
    EXPECT_EQ(skipped, 255);
    EXPECT_DOUBLE_EQ(skipped * kStep_s, 2.55);
    EXPECT_EQ(l_u8_TaskLock_Flag, 0);
    // The step never clears the report: only a restart does.
    EXPECT_TRUE(period_runs(500.0));
    EXPECT_STREQ(GuideW_M->error_status, "Overrun");
    GuideW_initialize();
    EXPECT_TRUE(period_runs(501.0));
    EXPECT_EQ(GuideW_M->error_status, nullptr);
}

}  // namespace
