// An engagement's parts against geometry worked by hand and the mechanics of
// a coordinated turn: the words of the geometry, where a target starts, how
// scripted targets fly, the pursuit layer's aim and speed, the sensor, and a
// flight that closes on a slower target until the separation check fails.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "law_constants.h"
#include "sim/engagement.h"
#include "sim/flight.h"
#include "sim/point_mass_model.h"
#include "tool_error.h"

namespace {

constexpr double kG = 9.80665;

V3 heading_velocity(double speed, double heading_deg) {
    const double h = heading_deg * kRadPerDeg;
    return speed * V3{std::cos(h), 0.0, std::sin(h)};
}

// Flies a scripted target for t_s and returns its state.
TargetState fly_target(const Manoeuvre& m, double t_s, double speed = 200.0) {
    TargetState start;
    start.speed_mps = speed;
    start.velocity = heading_velocity(speed, 0.0);
    start.position = {0.0, 3000.0, 0.0};
    auto track = scripted_target(start, m);
    const long steps = std::lround(t_s / kStep_s);
    for (long k = 0; k < steps; ++k) track->step(static_cast<double>(k) * kStep_s);
    return track->state();
}

}  // namespace

// Us at the origin flying north at 250 m/s; the target 1000 m away.
TEST(Engagement, GeometryNamesEachAngleAsAPilotDoes) {
    const struct {
        const char* situation;
        V3 target_position, target_velocity;
        double range, closure, ata, angle_off_tail, hca;
    } cases[] = {
        {"dead astern of a slower target",
         {1000, 0, 0},
         heading_velocity(200, 0),
         1000,
         50,
         0,
         0,
         0},
        {"head-on", {1000, 0, 0}, heading_velocity(200, 180), 1000, 450, 0, 180, 180},
        {"target crossing our nose", {1000, 0, 0}, heading_velocity(200, 90), 1000, 250, 0, 90, 90},
        {"target beside us, flying with us",
         {0, 0, 1000},
         heading_velocity(250, 0),
         1000,
         0,
         90,
         90,
         0},
        {"target behind us, chasing",
         {-1000, 0, 0},
         heading_velocity(300, 0),
         1000,
         50,
         180,
         180,
         0},
        {"target 1000 m straight above",
         {0, 1000, 0},
         heading_velocity(250, 0),
         1000,
         0,
         90,
         90,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        const EngagementGeometry g = engagement_geometry({0, 0, 0}, heading_velocity(250, 0),
                                                         c.target_position, c.target_velocity);
        EXPECT_NEAR(g.range_m, c.range, 1e-9);
        EXPECT_NEAR(g.closure_mps, c.closure, 1e-9);
        EXPECT_NEAR(g.ata_deg, c.ata, 1e-6);
        EXPECT_NEAR(g.angle_off_tail_deg, c.angle_off_tail, 1e-6);
        EXPECT_NEAR(g.hca_deg, c.hca, 1e-6);
    }
}

// Wherever the geometry puts the target, measuring it back from our start
// gives the range, the angle off its tail, the crossing angle and the side
// we were put on.
TEST(Engagement, TargetStartsWhereItsGeometrySays) {
    InitialFlight own;
    own.heading_deg = 30.0;
    for (double aot = -180.0; aot <= 180.0; aot += 15.0) {
        for (double crossing : {-135.0, 0.0, 45.0, 180.0}) {
            const TargetGeometry geo{2500.0, aot, crossing, 0.0, 180.0, 0.0};
            const TargetState t = target_start(geo, own);
            const V3 us{0.0, own.altitude_m, 0.0};
            const V3 own_v = heading_velocity(200.0, own.heading_deg);
            const EngagementGeometry g = engagement_geometry(us, own_v, t.position, t.velocity);
            SCOPED_TRACE(testing::Message() << "aot " << aot << ", crossing " << crossing);
            EXPECT_NEAR(g.range_m, 2500.0, 1e-6);
            EXPECT_NEAR(g.angle_off_tail_deg, std::fabs(aot), 1e-6);
            EXPECT_NEAR(g.hca_deg, std::fabs(crossing), 1e-6);
            // Positive: we are on its right, where its velocity turns to
            // reach us clockwise seen from above.
            const V3 to_us = us - t.position;
            const double right = t.velocity.x * to_us.z - t.velocity.z * to_us.x;
            if (std::fabs(aot) > 1.0 && std::fabs(aot) < 179.0) EXPECT_EQ(right > 0.0, aot > 0.0);
        }
    }
}

// A coordinated level turn at n g: bank acos(1/n), turn rate g sqrt(n^2-1)/V,
// radius V^2 / (g sqrt(n^2-1)); the weave's sine returns its heading after
// each period; the climb settles on its path angle; none loses speed.
TEST(Engagement, ScriptedTargetsFlyTheirManoeuvres) {
    Manoeuvre turn;
    turn.kind = ManoeuvreKind::kTurn;
    turn.load_g = 4.0;
    const double rate = kG * std::sqrt(15.0) / 200.0;
    // The roll-in to 75.5 deg at 90 deg/s costs 0.84 s of turn; measured
    // from 2 s to 12 s the turn is steady.
    const TargetState a = fly_target(turn, 2.0), b = fly_target(turn, 12.0);
    EXPECT_NEAR(b.bank_deg, std::acos(0.25) * kDegPerRad, 1e-9);
    EXPECT_NEAR(b.load_g, 4.0, 1e-9);
    EXPECT_NEAR(std::remainder(b.heading_deg - a.heading_deg, 360.0), 10.0 * rate * kDegPerRad,
                0.05);
    EXPECT_NEAR(b.position.y, 3000.0, 1e-9);
    turn.turn_deg = 90.0;  // a break through a quarter turn, rolled out
    const TargetState out = fly_target(turn, 20.0);
    EXPECT_EQ(out.bank_deg, 0.0);
    // The roll-out from 75.5 deg at 90 deg/s turns it on by about 2.4 deg.
    EXPECT_GT(out.heading_deg, 91.5);
    EXPECT_LT(out.heading_deg, 93.5);

    Manoeuvre weave;
    weave.kind = ManoeuvreKind::kWeave;
    weave.bank_deg = 60.0;
    weave.period_s = 10.0;
    EXPECT_NEAR(std::remainder(fly_target(weave, 20.0).heading_deg, 360.0), 0.0, 0.5);
    EXPECT_GT(std::fabs(fly_target(weave, 5.0).heading_deg), 10.0);

    Manoeuvre climb;
    climb.kind = ManoeuvreKind::kClimb;
    climb.path_deg = 20.0;
    climb.load_g = 3.0;
    const TargetState c = fly_target(climb, 20.0);
    EXPECT_EQ(c.path_deg, 20.0);
    EXPECT_GT(c.position.y, 3000.0 + 200.0 * std::sin(20.0 * kRadPerDeg) * 15.0);
    EXPECT_NEAR(norm(c.velocity), 200.0, 1e-9);
}

// A recorded track sampled once a second along a circle: between the
// samples the Hermite curve stays within a metre of the circle, and after
// the last sample the target flies on straight.
TEST(Engagement, RecordedTrackIsInterpolatedAndExtended) {
    const double r = 2000.0, w = 0.1;  // 200 m/s on a 2 km circle
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / "engagement_track.csv";
    {
        std::ofstream out(file);
        out.precision(17);
        out << "t_s,north_m,east_m,altitude_m,vel_north_mps,vel_east_mps,vel_up_mps\r\n";
        for (int t = 0; t <= 10; ++t) {
            out << t << ',' << r * std::sin(w * t) << ',' << r * (1 - std::cos(w * t)) << ",3000,"
                << r * w * std::cos(w * t) << ',' << r * w * std::sin(w * t) << ",0\r\n";
        }
    }
    const RecordedTrack track = read_recorded_track(file.string());
    auto target = recorded_target(track);
    for (long k = 0; k < 1200; ++k) {
        const double t = static_cast<double>(k + 1) * kStep_s;
        target->step(static_cast<double>(k) * kStep_s);
        const V3 p = target->state().position;
        if (t <= 10.0) {
            EXPECT_NEAR(std::hypot(p.x, p.z - r), r, 1.0) << "t = " << t;
        }
    }
    const V3 end{r * std::sin(1.0), 3000.0, r * (1 - std::cos(1.0))};
    const V3 v_end{r * w * std::cos(1.0), 0.0, r * w * std::sin(1.0)};
    EXPECT_NEAR(norm(target->state().position - (end + 2.0 * v_end)), 0.0, 1e-6);

    std::ofstream(file) << "t_s,north_m,east_m,altitude_m,vel_north_mps,vel_east_mps,vel_up_mps\n"
                        << "0,0,0,1000,200,0,0\n0,1,0,1000,200,0,0\n";
    EXPECT_THROW(read_recorded_track(file.string()), ToolError);
    std::filesystem::remove(file);
}

// Pure pursuit aims at the target, lead ahead of it by the time we need to
// fly the range (at most lead_max_s), lag behind it; the speed law holds
// the target's speed at the held range and closes faster from far.
TEST(Engagement, PursuitAimsWhereItsLawSays) {
    // The target 2000 m north, crossing eastwards at 200 m/s; we fly north
    // at 250 m/s.
    const PursuitInput in{
        {0, 0, 0}, heading_velocity(250, 0), {2000, 0, 0}, heading_velocity(200, 90)};
    const struct {
        const char* law_name;
        PursuitLaw law;
        double aim_east_m;
    } cases[] = {
        {"pure", PursuitLaw::kPure, 0.0},
        {"lead: 8 s to fly the range, at most 3", PursuitLaw::kLead, 600.0},
        {"lag by 2 s", PursuitLaw::kLag, -400.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.law_name);
        PursuitSettings s;
        s.law = c.law;
        const PursuitCommand cmd = pursue(s, in);
        EXPECT_NEAR(cmd.aim_point_m.z, c.aim_east_m, 1e-9);
        EXPECT_NEAR(cmd.azim_cmd_deg, std::atan2(c.aim_east_m, 2000.0) * kDegPerRad, 1e-9);
        EXPECT_FALSE(cmd.speed_cmd_mps.has_value());
    }
    // 1000 m over the ground, 700 m above the floor, a target straight
    // below: the dive is held to 90 x 700 / 1500 = 42 deg.
    const PursuitInput low{{0, 1000, 0}, heading_velocity(250, 0), {10, 0, 0}, {}};
    EXPECT_NEAR(pursue(PursuitSettings{}, low).elev_cmd_deg, -42.0, 1e-9);
    PursuitSettings s;
    s.speed = SpeedFromRange{};
    const auto speed_at = [&](double range, double own_speed) {
        const PursuitInput chase{
            {0, 0, 0}, heading_velocity(own_speed, 0), {range, 0, 0}, heading_velocity(200, 0)};
        return *pursue(s, chase).speed_cmd_mps;
    };
    EXPECT_DOUBLE_EQ(speed_at(1000.0, 200.0), 200.0);      // held, no closure
    EXPECT_GT(speed_at(3000.0, 200.0), 250.0);             // far: close on it
    EXPECT_EQ(speed_at(1100.0, 400.0), s.speed->min_mps);  // closing too fast: brake
}

// The sensor reports the target as it was delay_s ago; its noise has the
// stated spread and repeats with its seed.
TEST(Engagement, SensorIsLateAndNoisyAsStated) {
    TargetSensor late({0.1, 0.0, 0.0, 1});
    V3 p, v;
    for (int k = 0; k < 30; ++k) late.observe({static_cast<double>(k), 0, 0}, {}, p, v);
    EXPECT_EQ(p.x, 19.0);

    const auto draws = [](std::uint64_t seed) {
        TargetSensor noisy({0.0, 10.0, 0.0, seed});
        std::vector<double> xs;
        V3 sp, sv;
        for (int k = 0; k < 20000; ++k) {
            noisy.observe({}, {}, sp, sv);
            xs.push_back(sp.x);
        }
        return xs;
    };
    const std::vector<double> a = draws(7);
    double sum2 = 0.0;
    for (double x : a) sum2 += x * x;
    EXPECT_NEAR(std::sqrt(sum2 / a.size()), 10.0, 0.2);
    EXPECT_EQ(a, draws(7));
    EXPECT_NE(a, draws(8));
}

// Flying straight at a target 2 km ahead that is 50 m/s slower, we sit in
// its rear cone until the range falls below 500 m (after 30 s), and fly
// through it at 40 s: the separation check fails naming both.
TEST(Engagement, ClosingOnASlowerTargetFailsTheSeparation) {
    Scenario sc;
    sc.name = "overrun";
    sc.duration_s = 45.0;
    sc.initial.speed_mps = 250.0;
    sc.commands.speed_cmd = 250.0;
    sc.commands.mode = 1.0;
    TargetSetup target;
    target.geometry = {2000.0, 0.0, 0.0, 0.0, 200.0, 0.0};
    sc.target = target;
    sc.expect.min_separation_m = 100.0;
    sc.expect.rear_cone_s = 29.0;
    // A law that holds the aircraft straight and level at its speed.
    class Level final : public GuidanceLaw {
    public:
        void initialize() override {}
        void step(const GuideWInputs& u, GuideWOutputs& y) override {
            // Drag at 250 m/s and 3000 m is 13 % of full thrust.
            y = {0.0, 1.0, 0.133 + 0.05 * (u.speed_cmd - u.tas), 0.0};
        }
        GuideWParams& params() override { return p_; }
        const GuideWStates& states() const override { return s_; }
        GuideWParams p_{};
        GuideWStates s_{};
    } level;
    level.p_.guide_ref = 1.0;
    PointMassModel point_mass;
    const FlightSummary sum = fly_scenario(level, sc, point_mass, nullptr);
    ASSERT_TRUE(sum.engagement.has_value());
    EXPECT_NEAR(sum.engagement->cone_time.total_s, 30.0, 0.5);
    EXPECT_NEAR(sum.engagement->closest_t_s, 40.0, 0.5);
    const std::vector<CheckResult> failed = sum.failed();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].check, "min_separation_m");
    EXPECT_NE(failed[0].failure.find("came within"), std::string::npos) << failed[0].failure;
}
