// Every result of the step, to the last bit, over a long fixed flight.
//
// A seeded stream of flight segments (all modes, commands ahead and behind,
// steep dives and climbs, upside-down attitudes, guidance off and on, the
// nose and velocity references, occasional NaN and infinite inputs) runs
// through the step; the bytes of the outputs and the states after every step
// are folded into one 64-bit FNV-1a digest. Any change to the arithmetic of
// the law, however small, changes the digest: a rewrite meant to make the
// step faster must leave it exactly as recorded here.
//
// Every NaN counts as one and the same NaN: which sign a NaN result carries
// depends on the order in which the compiler hands operands to the
// processor (it differs between optimisation levels and under the
// sanitizers) and means nothing to a host. Where a NaN appears, and every
// bit of every other value, counts.
//
// The recorded value holds for glibc's maths library on x86-64; another
// maths library may round sin, acos, exp ... differently in the last place.
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "guidance_stages.h"
#include "test_support.h"

namespace {

constexpr uint64_t kRecordedDigest = 0xd9d51dcddc92ad38ull;
constexpr int kSegments = 1000;

// A small generator of our own: the digest must not depend on how a
// standard library implements its distributions.
struct Rng {
    uint64_t s;
    uint64_t next() {
        s += 0x9e3779b97f4a7c15ull;
        uint64_t z = s;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * (double(next() >> 11) * 0x1.0p-53);
    }
    bool chance(double p) { return uniform(0.0, 1.0) < p; }
    template <size_t N>
    double pick(const double (&values)[N]) { return values[next() % N]; }
};

struct Fnv1a {
    uint64_t h = 0xcbf29ce484222325ull;
    void add(const void* data, size_t size) {
        const unsigned char* b = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
    }
};

// How the aircraft moves during a segment, per step.
struct Motion {
    double turn_deg, pull_deg, roll_rate_degps;
    double noise;        // 0: a steady segment, exactly repeatable values
    double track_deg;    // velocity heading minus yaw (wind, sideslip)
};

// One segment: commands, a starting attitude and a motion. The command lies
// at a random offset from the heading, the awkward offsets (near 90, 170 and
// 180 deg) over-represented.
Motion start_segment(Rng& r, GuideWInputs& u, GuideWParams& p) {
    const double offsets[] = {0, 30, -60, 90, -90, 120, 171, -175, 178, 180, -179.9};
    const double elevations[] = {0, 5, -10, -44.9, -45, -60, -89, 30, 75, 90};
    const double headings[] = {0, 90, 180, -90, 270, 360};
    const double modes[] = {0, 1, 1, 1, 1.5, 2, 2, 2.5, 3, 3, 3.5, 4, 4.2};
    const double refs[] = {0, 1, 1, 1, 2, 3};
    const double weights[] = {0, 0, 0.5, 0.03, 0.97, 1};
    const double loads[] = {0, 0.05, -0.05, 1, -1, 1.2, 2};

    u.yaw = r.chance(0.1) ? r.pick(headings) : r.uniform(-400, 400);
    u.pitch = r.chance(0.8) ? r.uniform(-60, 60) : r.uniform(-300, 300);
    u.roll = r.chance(0.7) ? r.uniform(-60, 60) : r.uniform(-400, 400);
    u.tas = r.uniform(60, 500);
    u.altitude = r.chance(0.9) ? r.uniform(0, 15000) : r.uniform(-600, 25000);
    u.azim_cmd = std::fmod(u.yaw + (r.chance(0.5) ? r.pick(offsets) : r.uniform(-180, 180)) + 720.0, 360.0);
    u.elev_cmd = r.chance(0.5) ? r.pick(elevations) : r.uniform(-90, 90);
    u.speed_cmd = r.uniform(80, 700);
    u.mode = r.chance(0.9) ? r.pick(modes) : r.uniform(0, 5);
    u.ext_weight = r.chance(0.8) ? r.pick(weights) : r.uniform(0, 1);
    u.ext_nz = r.chance(0.2) ? r.pick(loads) : r.uniform(-4, 7);
    u.ext_bank = r.uniform(-90, 90);
    u.ext_throttle = r.uniform(-0.5, 150);
    u.ext_lat = r.uniform(-200, 200);
    p.guide_ref = r.pick(refs);

    // Now and then exactly wings level, or flying straight at the command or
    // straight away from it: the angle clamps meet dot products of +-1.
    if (r.chance(0.1)) u.pitch = u.roll = 0.0;
    if (r.chance(0.1)) {
        const bool away = r.chance(0.5);
        u.azim_cmd = std::fmod(u.yaw + (away ? 180.0 : 0.0) + 720.0, 360.0);
        u.elev_cmd = away ? -u.pitch : u.pitch;
    }

    const double steady = r.chance(0.25) ? 0.0 : 1.0;
    return Motion{r.uniform(-0.5, 0.5) * steady, r.uniform(-0.4, 0.4) * steady,
                  r.chance(0.5) ? 0.0 : r.uniform(-150, 150) * steady, steady,
                  r.chance(0.8) ? 0.0 : r.uniform(-150, 150)};
}

// One step of motion: the attitude drifts, the velocity follows the
// attitude's direction (turned by the track offset) at the true airspeed,
// near standstill now and then.
void advance(Rng& r, GuideWInputs& u, const Motion& mo) {
    constexpr double k = 0.017453292519943295;
    u.yaw += mo.turn_deg;
    u.pitch += mo.pull_deg;
    u.roll += mo.roll_rate_degps * 0.01;
    u.roll_rate = mo.roll_rate_degps;
    u.altitude += r.uniform(-5, 5) * mo.noise;
    const double v = r.chance(0.01) ? r.uniform(0, 1.5) : u.tas;
    const double track = (u.yaw + mo.track_deg) * k;
    u.vel_up = v * std::sin(u.pitch * k) + r.uniform(-3, 3) * mo.noise;
    u.vel_north = v * std::cos(u.pitch * k) * std::cos(track);
    u.vel_east = v * std::cos(u.pitch * k) * std::sin(track);
    u.aux_in = r.uniform(-1, 1);
}

// Now and then one to three inputs are not numbers, or infinite, for one
// step: which NaN wins where two meet is part of the bits.
void poison(Rng& r, GuideWInputs& u) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          -std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    double* fields = &u.speed_cmd;
    const int n = 1 + int(r.next() % 3);
    for (int i = 0; i < n; ++i) fields[r.next() % 19] = r.pick(bad);
}

// The values of a record, each NaN folded into the canonical one.
template <typename Record>
void add_values(Fnv1a& digest, const Record& rec) {
    const double* v = reinterpret_cast<const double*>(&rec);
    for (size_t i = 0; i < sizeof rec / sizeof(double); ++i) {
        const double x = std::isnan(v[i]) ? std::numeric_limits<double>::quiet_NaN() : v[i];
        digest.add(&x, sizeof x);
    }
}

TEST(GoldenDigest, LongMixedFlightGivesTheRecordedBitsEveryStep) {
    Rng r{20240611};
    Model m;
    Fnv1a digest;
    long steps = 0;
    for (int seg = 0; seg < kSegments; ++seg) {
        if (r.chance(0.1)) m.dw = fresh_states();
        const Motion mo = start_segment(r, m.u, m.p);
        const int n = r.chance(0.2) ? int(r.uniform(200, 400)) : int(r.uniform(1, 40));
        for (int i = 0; i < n; ++i, ++steps) {
            advance(r, m.u, mo);
            const GuideWInputs clean = m.u;
            if (r.chance(0.05)) poison(r, m.u);
            m.step();
            m.u = clean;
            add_values(digest, m.y);
            add_values(digest, m.dw);
        }
    }
    EXPECT_EQ(steps, 77795);  // otherwise the flight changed, not the law
    EXPECT_EQ(digest.h, kRecordedDigest) << std::hex << "digest 0x" << digest.h;
}

}  // namespace
