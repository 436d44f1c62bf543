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
