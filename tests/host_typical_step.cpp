// A host's first guided period: level flight north at 3000 m, command 30 deg
// to the right and 5 deg up, 220 m/s wanted, run through the loaded library.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "guide_fields.h"
#include "guide_library.h"
#include "typical_flight.h"

TEST(TypicalStep, LevelFlightTurningRightAndClimbingTowardsTheCommand) {
    const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    lib.initialize();
    const double* const in = input_values(kTypicalFlight);
    double out[4] = {}, again[4] = {};
    lib.one_step(in);
    lib.get_output(out);
    // A bank error of about 71 deg saturates the roll law; the climbing turn
    // wants more load than the limit at 165 m/s equivalent airspeed.
    EXPECT_EQ(out[0], 150.0);
    EXPECT_NEAR(out[1], 3.4805, 5e-5);
    EXPECT_NEAR(out[2], 1.002442, 5e-7);
    EXPECT_EQ(out[3], 7.0);
    EXPECT_NEAR(lib.states->front_roll_err, 71.217, 5e-4);
    // Nothing latches in this situation: a repeat is bit-identical.
    lib.one_step(in);
    lib.get_output(again);
    EXPECT_EQ(std::memcmp(out, again, sizeof out), 0);
}
