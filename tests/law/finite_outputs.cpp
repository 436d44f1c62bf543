// Whatever a pilot or an autopilot asks in a physical flight envelope, the
// law commands finite numbers: an actuator fed a NaN or an infinity would
// hold it, and the numeric guards of the law exist to prevent exactly that.
// Random flights (fixed seeds) fly a crude point-mass aircraft on the law's
// own commands, so the manoeuvre latches really engage and the states evolve
// as they do in flight, with commands, modes and attitudes jumping now and
// then, and now and then snapped onto the edges where guards act (vertical
// flight, a command exactly abeam, wings exactly inverted).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "numeric_helpers.h"
#include "test_support.h"

namespace {

struct Flight {
    std::mt19937_64 rng;
    Model m;
    double v = 200.0, gamma = 0.0, chi = 0.0;  // speed, path angle, track (rad)

    explicit Flight(uint64_t seed) : rng(seed) {}
    double uni(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
    bool chance(double p) { return uni(0.0, 1.0) < p; }
    template <size_t N>
    double pick(const double (&a)[N]) {
        return a[rng() % N];
    }

    void draw_commands() {
        static const double kModes[] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0};
        static const double kWeights[] = {0.0, 1.0, 0.05, 0.95, 0.5};
        static const double kOrbitNz[] = {1.0, -1.0, 0.0, 0.1, -0.1, 1e-9, 1.0000000000000002,
                                          9.0, -9.0};
        GuideWInputs& u = m.u;
        u.speed_cmd = uni(100.0, 600.0);
        u.elev_cmd = chance(0.1) ? pick<3>({90.0, -90.0, -45.0}) : uni(-90.0, 90.0);
        u.azim_cmd = uni(0.0, 360.0);
        u.mode = chance(0.7) ? pick(kModes) : uni(1.0, 4.0);
        u.ext_weight = chance(0.3) ? pick(kWeights) : uni(0.0, 1.0);
        u.ext_nz = chance(0.2) ? pick(kOrbitNz) : uni(-9.0, 9.0);
        u.ext_bank = uni(-180.0, 180.0);
        u.ext_throttle = uni(0.0, 1.2);
        u.ext_lat = uni(-150.0, 150.0);
        u.aux_in = uni(-1e6, 1e6);
    }
    void draw_attitude() {
        v = uni(50.0, 600.0);
        gamma = uni(-kHalfPi_rad, kHalfPi_rad);
        chi = uni(-kPi, kPi);
        m.u.roll = uni(-360.0, 360.0);
        m.u.altitude = uni(0.0, 20000.0);
    }
    // Edges where a divisor or an arc cosine needs its guard.
    void snap_to_edge() {
        switch (rng() % 5) {
            case 0: gamma = chance(0.5) ? kHalfPi_rad : -kHalfPi_rad; break;  // straight up or down
            case 1: m.u.roll = pick<4>({180.0, -180.0, 90.0, -90.0}); break;
            case 2: m.u.azim_cmd = std::fmod(chi * kDegPerRad + 450.0, 360.0); break;  // abeam
            case 3:
                m.u.azim_cmd = std::fmod(chi * kDegPerRad + 540.0, 360.0);
                break;  // straight behind
            default: m.u.altitude = pick<3>({0.0, 11000.0, 20000.0}); break;
        }
    }
    // Sensed state from the point mass: the nose a few degrees off the path.
    void sense() {
        GuideWInputs& u = m.u;
        u.tas = v;
        const double c =
            std::fabs(gamma) == kHalfPi_rad ? 0.0 : std::cos(gamma);  // exactly vertical
        u.vel_up = v * std::sin(gamma);
        u.vel_north = v * c * std::cos(chi);
        u.vel_east = v * c * std::sin(chi);
        u.yaw = chi * kDegPerRad + uni(-5.0, 5.0);
        u.pitch = gamma * kDegPerRad + uni(-5.0, 5.0);
    }
    // The aircraft answers the commands: roll at lat_cmd deg/s, load and
    // throttle bend and speed up the path. Kept inside the envelope.
    void respond(const GuideWOutputs& y) {
        constexpr double dt = 0.01;
        const double rate = std::clamp(y.lat_cmd, -240.0, 240.0);
        m.u.roll_rate = rate;
        m.u.roll = std::remainder(m.u.roll + rate * dt, 360.0);
        const double bank = m.u.roll * kRadPerDeg, nz = std::clamp(y.nz_cmd, -5.0, 9.0);
        gamma += dt * kGravity_mps2 * (nz * std::cos(bank) - std::cos(gamma)) / v;
        if (gamma > kHalfPi_rad || gamma < -kHalfPi_rad) {  // over the top: the track reverses
            gamma = std::copysign(kPi, gamma) - gamma;
            chi += kPi;
            m.u.roll = std::remainder(m.u.roll + 180.0, 360.0);
        }
        chi = std::remainder(
            chi + dt * kGravity_mps2 * nz * std::sin(bank) / (v * std::max(std::cos(gamma), 0.05)),
            2 * kPi);
        v = std::clamp(v + dt * (20.0 * (y.throttle_cmd - 0.5) - kGravity_mps2 * std::sin(gamma)),
                       50.0, 600.0);
        m.u.altitude = std::clamp(m.u.altitude + dt * m.u.vel_up, 0.0, 20000.0);
    }
};

std::string describe(const GuideWInputs& u, const GuideWStates& dw, double guide_ref) {
    const double* in = &u.speed_cmd;
    const double* st = &dw.splits_active;
    std::string s = "guide_ref " + std::to_string(guide_ref) + "\ninputs:";
    char buf[40];
    for (int i = 0; i < GUIDEW_INPUT_COUNT; ++i)
        std::snprintf(buf, sizeof buf, " %.17g", in[i]), s += buf;
    s += "\nstates before the step:";
    for (int i = 0; i < GUIDEW_STATE_COUNT; ++i)
        std::snprintf(buf, sizeof buf, " %.17g", st[i]), s += buf;
    return s;
}

TEST(FiniteOutputs, RandomFlightsInTheEnvelopeCommandOnlyFiniteValues) {
    constexpr int kFlights = 2500, kSteps = 200;
    static const double kReferences[] = {1.0, 1.0, 2.0, 3.0, 0.0};  // velocity, nose, guidance off
    // How often each latch was seen set: the flights must reach them all.
    const char* const kLatchNames[] = {"splits_active", "splits_pull",   "inverted_latch",
                                       "upright_latch", "sign_latch",    "bank_captured",
                                       "orbit_latched", "ext_bank_latch"};
    long latched[8] = {};
    long steps = 0;

    for (int f = 0; f < kFlights; ++f) {
        Flight fl(0x9e3779b97f4a7c15ull * static_cast<uint64_t>(f + 1));
        fl.m.p.guide_ref = fl.pick(kReferences);
        fl.draw_commands();
        fl.draw_attitude();
        for (int k = 0; k < kSteps; ++k, ++steps) {
            if (fl.chance(0.01)) fl.draw_commands();
            if (fl.chance(0.003)) fl.draw_attitude();
            if (fl.chance(0.01)) fl.snap_to_edge();
            fl.sense();
            const GuideWStates before = fl.m.dw;
            const GuideWOutputs& y = fl.m.step();
            const double* out = &y.lat_cmd;
            const double* st = &fl.m.dw.splits_active;
            for (int i = 0; i < GUIDEW_OUTPUT_COUNT; ++i)
                ASSERT_TRUE(std::isfinite(out[i])) << "output " << i << " = " << out[i]
                                                   << " in flight " << f << ", step " << k << "\n"
                                                   << describe(fl.m.u, before, fl.m.p.guide_ref);
            for (int i = 0; i < GUIDEW_STATE_COUNT; ++i)
                ASSERT_TRUE(std::isfinite(st[i])) << "state " << i << " = " << st[i]
                                                  << " in flight " << f << ", step " << k << "\n"
                                                  << describe(fl.m.u, before, fl.m.p.guide_ref);
            const double flags[8] = {fl.m.dw.splits_active,  fl.m.dw.splits_pull,
                                     fl.m.dw.inverted_latch, fl.m.dw.upright_latch,
                                     fl.m.dw.sign_latch,     fl.m.dw.bank_captured,
                                     fl.m.dw.orbit_latched,  fl.m.dw.ext_bank_latch};
            for (int i = 0; i < 8; ++i) latched[i] += flags[i] != 0.0;
            fl.respond(y);
        }
    }
    EXPECT_EQ(steps, long{kFlights} * kSteps);
    for (int i = 0; i < 8; ++i) EXPECT_GT(latched[i], 100) << kLatchNames[i] << " never engaged";
}

}  // namespace
