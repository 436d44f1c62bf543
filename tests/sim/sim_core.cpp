// The simulator's core judged against laws of known behaviour: a stand-in
// for libGuide.so whose commands are chosen by the test, so that what the
// flight must show follows from the mechanics alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/flight.h"
#include "sim/point_mass_model.h"
#include "sim/tracking.h"
#include "tracking_feed.h"

namespace {

// A law whose commands the test chooses, step by step.
class StandInLaw final : public GuidanceLaw {
public:
    explicit StandInLaw(std::function<GuideWOutputs(long, const GuideWInputs&)> law)
        : law_(std::move(law)) {
        params_.guide_ref = 1.0;
    }
    void initialize() override {
        steps_ = 0;
        states_ = GuideWStates{};
    }
    void step(const GuideWInputs& u, GuideWOutputs& y) override { y = law_(steps_++, u); }
    GuideWParams& params() override { return params_; }
    const GuideWStates& states() const override { return states_; }

private:
    std::function<GuideWOutputs(long, const GuideWInputs&)> law_;
    GuideWParams params_{};
    GuideWStates states_{};
    long steps_ = 0;
};

// The point mass with an envelope of the test's choosing, or one that
// cannot be trimmed at any start.
class Enveloped final : public AircraftModel {
public:
    Enveloped(AircraftLimits limits, bool trims) : limits_(limits), trims_(trims) {}
    const std::string& name() const override { return name_; }
    void reset(const InitialFlight& init) override {
        if (!trims_) throw AircraftError(AircraftError::kTrim, "aircraft enveloped: no trim");
        point_mass_.reset(init);
    }
    void sense(GuideWInputs& u) const override { point_mass_.sense(u); }
    void step(const GuideWOutputs& cmd) override { point_mass_.step(cmd); }
    const Aircraft& state() const override { return point_mass_.state(); }
    AircraftLimits limits() const override { return limits_; }
    // A stand-in lift slope: 4 deg of angle of attack per g.
    double alpha_deg() const override { return 4.0 * state().load_g; }

private:
    std::string name_ = "enveloped";
    PointMassModel point_mass_;
    AircraftLimits limits_;
    bool trims_;
};

Scenario level_flight(double duration_s) {
    Scenario sc;
    sc.name = "stand_in";
    sc.duration_s = duration_s;
    sc.commands.speed_cmd = sc.initial.speed_mps;
    sc.commands.mode = 1.0;
    return sc;
}

}  // namespace

// Every way a flight fails is named by its check, with the words saying
// why. What the law commands decides how the flight ends: a value that is
// not finite stops it at once, naming the quantity and the time; with no
// lift and no thrust the aircraft falls from 3000 m, in vacuum in
// sqrt(2 * 3000 / 9.80665) = 24.7 s and a little later against drag, and
// the flight ends at the ground. A 3 g pull leaves an airframe limited to
// 2.5 g, and at 4 deg per g passes an angle-of-attack limit of 10 deg; an
// aircraft that cannot be trimmed does not start, and what was asked of the
// flight fails with it.
TEST(SimCore, EachFailureIsNamedByItsCheck) {
    using Law = std::function<GuideWOutputs(long, const GuideWInputs&)>;
    const Law pull_3g = [](long, const GuideWInputs&) { return GuideWOutputs{0.0, 3.0, 0.5, 0.0}; };
    const AircraftLimits none{}, load_2_5g{2.5, -1.0, INFINITY, 240.0},
        alpha_10{INFINITY, -INFINITY, 10.0, 240.0};
    const struct {
        const char* situation;
        Law law;
        AircraftLimits limits;
        bool trims;
        std::vector<std::string> failed_checks;
        const char* first_failure;
        double ended_lo_s, ended_hi_s;  // NaN: flown to the end
    } cases[] = {
        {"load command turns NaN after 1 s",
         [](long k, const GuideWInputs&) {
             return GuideWOutputs{0.0, k < 100 ? 1.0 : NAN, 0.3, 0.0};
         },
         none,
         true,
         {"finite_values"},
         "nz_cmd is nan at t = 1.00 s",
         1.0,
         1.0},
        {"throttle command infinite from the start",
         [](long, const GuideWInputs&) {
             return GuideWOutputs{0.0, 1.0, INFINITY, 0.0};
         },
         none,
         true,
         {"finite_values"},
         "throttle_cmd is infinite at t = 0.00 s",
         0.0,
         0.0},
        {"falling without lift or thrust",
         [](long, const GuideWInputs&) {
             return GuideWOutputs{0.0, 0.0, 0.0, 0.0};
         },
         none,
         true,
         {"ground"},
         "reached the ground at t = ",
         24.7,
         30.0},
        {"a 3 g pull on a 2.5 g airframe",
         pull_3g,
         load_2_5g,
         true,
         {"load_limits"},
         "enveloped: load factor ",
         NAN,
         NAN},
        {"a 3 g pull past 10 deg of angle of attack",
         pull_3g,
         alpha_10,
         true,
         {"alpha_limit"},
         "enveloped: angle of attack ",
         NAN,
         NAN},
        {"an aircraft that cannot be trimmed",
         pull_3g,
         none,
         false,
         {"trim", "max_load_g"},
         "aircraft enveloped: no trim",
         NAN,
         NAN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        StandInLaw law(c.law);
        Enveloped aircraft(c.limits, c.trims);
        Scenario sc = level_flight(std::isnan(c.ended_lo_s) ? 5.0 : 60.0);
        sc.expect.max_load_g = 9.0;
        const FlightSummary sum = fly_scenario(law, sc, aircraft, nullptr);
        std::vector<std::string> failed_checks;
        for (const CheckResult& r : sum.failed()) failed_checks.push_back(r.check);
        EXPECT_EQ(failed_checks, c.failed_checks);
        ASSERT_FALSE(sum.failed().empty());
        const std::string first = sum.failed().front().failure;
        EXPECT_EQ(first.rfind(c.first_failure, 0), 0u) << first;
        EXPECT_EQ(sum.started, c.trims);
        if (!c.trims) EXPECT_EQ(sum.checks.back().failure, kNotFlown);
        EXPECT_EQ(sum.ended_s.has_value(), !std::isnan(c.ended_lo_s));
        if (!sum.ended_s) continue;
        EXPECT_GE(*sum.ended_s, c.ended_lo_s);
        EXPECT_LE(*sum.ended_s, c.ended_hi_s);
    }
}

// A check that meets a value that is not a number fails: NaN is never
// within a limit.
TEST(SimCore, ChecksTreatNanAsAFailure) {
    StandInLaw law([](long, const GuideWInputs&) { return GuideWOutputs{0.0, 1.0, 0.3, 0.0}; });
    PointMassModel point_mass;
    Scenario sc = level_flight(2.0);
    sc.expect.orbit = OrbitExpectation{};  // no orbit is flown: its radius is not a number
    sc.expect.orbit->settle_s = 0.0;
    const FlightSummary sum = fly_scenario(law, sc, point_mass, nullptr);
    ASSERT_EQ(sum.failed().size(), 1u);
    EXPECT_EQ(sum.failed().front().check, "orbit");
    EXPECT_NE(sum.failed().front().failure.find("orbit radius"), std::string::npos);
    // Straight and level at trim thrust: no altitude to speak of is lost.
    EXPECT_LT(sum.altitude_lost_m, 5.0);
}

// The elevator's activity from signals whose figures follow from their
// shape: a slow ramp is no activity at all (the centred mean moves with
// it); a 25 Hz swing of amplitude a has an rms of a / sqrt(2), all of it in
// the 25 Hz band; the alternation +-a at the law's Nyquist frequency (50 Hz)
// has an rms of a and moves 2a every step, at the rate of an actuator of
// 2a per step. The centred 51-sample mean holds 1/51 of the centre sample
// of the swing (its other 50 cancel) and -1/51 of the alternation's, so
// the deviations are 50/51 and 52/51 of the signals.
TEST(SimCore, ElevatorActivityFindsTheBuzz) {
    const struct {
        const char* situation;
        double (*elevator_deg)(long step);
        double rate_dps;
        double rms_deg, buzz_Hz, share;
    } rows[] = {
        {"a ramp of 1 deg/s", [](long k) { return 0.01 * static_cast<double>(k); }, 200.0, 0.0, NAN,
         0.0},
        {"a 25 Hz swing of 2 deg",
         [](long k) { return 2.0 * std::sin(kPi / 2.0 * static_cast<double>(k)); }, INFINITY,
         std::sqrt(2.0) * 50.0 / 51.0, 25.0, NAN},
        {"a 50 Hz alternation of 1 deg at a 200 deg/s actuator's rate",
         [](long k) { return k % 2 == 0 ? 1.0 : -1.0; }, 200.0, 52.0 / 51.0, 50.0, 1.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        ElevatorActivity activity(r.rate_dps);
        for (long k = 0; k < 1000; ++k) activity.observe(r.elevator_deg(k), k > 500);
        const ElevatorFigures e = activity.result();
        EXPECT_EQ(e.samples, 1000 - 50);  // the centred window's ends are not counted
        EXPECT_NEAR(e.rms_deg, r.rms_deg, 1e-9);
        // Over its steady half (whose windows lie wholly in it) a steady
        // signal keeps its rms, but for the few samples less it counts.
        EXPECT_NEAR(e.steady_rms_deg, r.rms_deg, 0.01 * r.rms_deg + 1e-9);
        EXPECT_NEAR(e.rms_above_min_buzz_deg, r.rms_deg, 1e-9);
        if (std::isnan(r.buzz_Hz)) {
            EXPECT_LT(e.buzz_rms_deg, 1e-9);
        } else {
            EXPECT_EQ(e.buzz_frequency_Hz, r.buzz_Hz);
            EXPECT_NEAR(e.buzz_rms_deg, r.rms_deg, 1e-9);
        }
        EXPECT_EQ(std::isnan(e.rate_limited_share), std::isnan(r.share));
        if (!std::isnan(r.share)) EXPECT_DOUBLE_EQ(e.rate_limited_share, r.share);
    }
}

// The load's transient figures, from commands and flown loads one per law
// step (the aircraft of a sample has flown the command of the sample
// before). A 2 g turn with a dip to 0.5 g at 1.5 s and a spike to 3 g at
// 3 s; a 1 to 3 g step at 1 s flown 0.7 s late, whose 70 samples 2 g short
// the 1 s window leaves out wholly and the 0.5 s window by 50.
TEST(SimCore, TrackingGivesTheWorstMomentsAndBothWindows) {
    const size_t n = 400;
    std::vector<double> turn(n, 2.0), dipped(n, 2.0), step(n, 1.0), late(n, 1.0);
    dipped[150] = 0.5;
    dipped[300] = 3.0;
    for (size_t k = 100; k < n; ++k) step[k] = 3.0;
    for (size_t k = 171; k < n; ++k) late[k] = 3.0;
    const struct {
        const char* situation;
        std::vector<double> commanded, flown;
        double excess_g, excess_s, deficit_g, deficit_s, lowest_g, lowest_s;
        double settled_short_g, settled_g;
    } rows[] = {
        {"a dip and a spike in a steady turn", turn, dipped, 1.0, 3.0, 1.5, 1.5, 0.5, 1.5,
         std::sqrt(3.25 / 399.0), std::sqrt(3.25 / 399.0)},
        {"a step flown 0.7 s late", step, late, 0.0, NAN, 2.0, 1.01, 1.0, 0.01,
         std::sqrt(80.0 / 349.0), 0.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.situation);
        const Tracking t = track(r.commanded, r.flown);
        EXPECT_DOUBLE_EQ(t.worst_excess_g, r.excess_g);
        EXPECT_EQ(std::isnan(t.worst_excess_t_s), std::isnan(r.excess_s));
        if (!std::isnan(r.excess_s)) EXPECT_NEAR(t.worst_excess_t_s, r.excess_s, 1e-9);
        EXPECT_DOUBLE_EQ(t.worst_deficit_g, r.deficit_g);
        EXPECT_NEAR(t.worst_deficit_t_s, r.deficit_s, 1e-9);
        EXPECT_DOUBLE_EQ(t.lowest_load_g.value, r.lowest_g);
        EXPECT_NEAR(t.lowest_load_g.t_s, r.lowest_s, 1e-9);
        EXPECT_NEAR(t.rms_load_error_settled_short_g, r.settled_short_g, 1e-12);
        EXPECT_NEAR(t.rms_load_error_settled_g, r.settled_g, 1e-12);
        // No air data on this aircraft: no sideslip, no elevator.
        EXPECT_TRUE(std::isnan(t.max_sideslip_deg.value));
        EXPECT_EQ(t.elevator.samples, 0);
    }
}
