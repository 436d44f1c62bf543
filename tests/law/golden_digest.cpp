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
#include <ostream>

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
    double pick(const double (&values)[N]) {
        return values[next() % N];
    }
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
    double noise;      // 0: a steady segment, exactly repeatable values
    double track_deg;  // velocity heading minus yaw (wind, sideslip)
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
    u.azim_cmd =
        std::fmod(u.yaw + (r.chance(0.5) ? r.pick(offsets) : r.uniform(-180, 180)) + 720.0, 360.0);
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
    const double bad[] = {
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
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

// One segment of a coherent flight, at most `room` steps of it, folded into
// the digest; now and then fresh states first, and inputs poisoned for one
// step with the given chance. Returns the steps flown.
long fly_segment(Rng& r, Model& m, Fnv1a& digest, double poison_chance, long room) {
    if (r.chance(0.1)) m.dw = kFreshStates;
    const Motion mo = start_segment(r, m.u, m.p);
    const int n = r.chance(0.2) ? int(r.uniform(200, 400)) : int(r.uniform(1, 40));
    long i = 0;
    for (; i < n && i < room; ++i) {
        advance(r, m.u, mo);
        const GuideWInputs clean = m.u;
        if (r.chance(poison_chance)) poison(r, m.u);
        m.step();
        m.u = clean;
        add_values(digest, m.y);
        add_values(digest, m.dw);
    }
    return i;
}

TEST(GoldenDigest, LongMixedFlightGivesTheRecordedBitsEveryStep) {
    Rng r{20240611};
    Model m;
    Fnv1a digest;
    long steps = 0;
    for (int seg = 0; seg < kSegments; ++seg) {
        steps += fly_segment(r, m, digest, 0.05, std::numeric_limits<long>::max());
    }
    EXPECT_EQ(steps, 77795);  // otherwise the flight changed, not the law
    EXPECT_EQ(digest.h, kRecordedDigest) << std::hex << "digest 0x" << digest.h;
}

// ---- The wide digest: a million steps in four kinds of stream -------------
//
// Each stream has its own recorded digest, so a change that moves a bit says
// which kind of flight it touched. As above, every bit of every output and
// state counts (the sign of a zero too); only NaNs are made canonical.

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Values a step treats specially: mode band edges and their neighbours,
// the takeover window's edges, the steep-dive edge, exact vertical and
// inverted attitudes, the load-limit and speed-reference breakpoints of the
// equivalent airspeed, the tropopause, a standstill.
double near(Rng& r, double x) {
    switch (r.next() % 4) {
        case 0: return std::nextafter(x, -kInf);
        case 1: return std::nextafter(x, kInf);
        default: return x;
    }
}

void random_states(Rng& r, GuideWStates& dw) {
    double* s = &dw.splits_active;
    const double flags[] = {0.0, 1.0, 1.0, 0.0, 0.5, -0.0, 2.0};
    for (int i = 0; i < 16; ++i) s[i] = r.pick(flags);
    dw.turn_sign = r.chance(0.5) ? 1.0 : -1.0;
    dw.splits_timer = r.chance(0.5) ? near(r, 2.5) : r.uniform(0, 3);
    dw.front_roll_err = r.uniform(-10, 200);
    dw.front_entry_roll = r.uniform(-180, 180);
    dw.splits_bank = r.uniform(-180, 180);
    dw.orbit_yaw_ref = r.uniform(-180, 180);
    dw.orbit_alt_ref = r.uniform(0, 15000);
}

// Unrelated realistic inputs every step: each step a new aircraft somewhere
// in the envelope with a new command; the states are carried on.
void unrelated_inputs(Rng& r, GuideWInputs& u, GuideWParams& p) {
    const double modes[] = {0, 1, 1.5, 2, 2.5, 3, 3.5, 4};
    const double refs[] = {0, 1, 1, 1, 2, 3};
    u.speed_cmd = r.uniform(80, 700);
    u.elev_cmd = r.uniform(-90, 90);
    u.azim_cmd = r.uniform(0, 360);
    u.ext_weight = r.uniform(0, 1);
    u.ext_nz = r.uniform(-4, 7);
    u.ext_bank = r.uniform(-180, 180);
    u.ext_throttle = r.uniform(-0.5, 150);
    u.mode = r.chance(0.5) ? r.pick(modes) : r.uniform(0, 5);
    u.yaw = r.uniform(-540, 540);
    u.pitch = r.uniform(-180, 180);
    u.roll = r.uniform(-360, 360);
    u.tas = r.uniform(0, 800);
    u.vel_up = r.uniform(-400, 400);
    u.vel_north = r.uniform(-500, 500);
    u.vel_east = r.uniform(-500, 500);
    u.roll_rate = r.uniform(-300, 300);
    u.altitude = r.uniform(-1000, 25000);
    u.ext_lat = r.uniform(-300, 300);
    u.aux_in = r.uniform(-1e3, 1e3);
    p.guide_ref = r.pick(refs);
}

// Inputs snapped onto the edges where a comparison decides the path.
void boundary_inputs(Rng& r, GuideWInputs& u, GuideWParams& p) {
    const double modes[] = {1.5, 2.5, 3.5, 0.0, 1.0, 2.0, 3.0, 4.0};
    const double weights[] = {0.05, 0.95, 0.0, 1.0, 0.5};
    const double elevations[] = {-45.0, 0.0, -0.0, 90.0, -90.0, 20.0, -20.0, 30.0, -30.0};
    const double offsets[] = {0.0, 90.0, -90.0, 170.0, -170.0, 180.0, -180.0, 10.0, -10.0, 30.0};
    const double pitches[] = {90.0, -90.0, 270.0, 70.0, 0.0, 180.0, -0.0};
    const double rolls[] = {0.0, 180.0, -180.0, 90.0, -90.0, 10.0, -10.0, 60.0, 179.0, -179.0};
    const double eas[] = {120.0, 200.0, 400.0, 600.0, 100.0};
    const double altitudes[] = {0.0, 11000.0, 2000.0, 20000.0};
    const double refs[] = {1, 2, 3, 0.5, -1};
    const double loads[] = {1.0, -1.0, 0.1, -0.1, 0.0, -0.0, 2.0};
    unrelated_inputs(r, u, p);
    if (r.chance(0.5)) u.mode = near(r, r.pick(modes));
    if (r.chance(0.4)) u.ext_weight = near(r, r.pick(weights));
    if (r.chance(0.4)) u.elev_cmd = near(r, r.pick(elevations));
    if (r.chance(0.4)) u.pitch = near(r, r.pick(pitches));
    if (r.chance(0.4)) u.roll = near(r, r.pick(rolls));
    if (r.chance(0.3)) u.ext_nz = near(r, r.pick(loads));
    if (r.chance(0.3)) {
        u.altitude = near(r, r.pick(altitudes));
        u.tas = r.pick(eas);
    }
    if (r.chance(0.5)) {  // velocity along the attitude, the command at an edge offset
        constexpr double k = 0.017453292519943295;
        u.yaw = r.uniform(-180, 180);
        const double v = r.chance(0.1) ? 0.0 : u.tas;
        const double gam = r.chance(0.2) ? 90.0 : r.uniform(-60, 60);
        u.vel_up = v * std::sin(gam * k);
        u.vel_north = v * std::cos(gam * k) * std::cos(u.yaw * k);
        u.vel_east = v * std::cos(gam * k) * std::sin(u.yaw * k);
        u.azim_cmd = near(r, std::fmod(u.yaw + r.pick(offsets) + 720.0, 360.0));
    }
    if (r.chance(0.2)) p.guide_ref = r.pick(refs);
}

// Extreme magnitudes, signed zeros and non-finite values anywhere, in the
// inputs and in the parameters.
void extreme_inputs(Rng& r, GuideWInputs& u, GuideWParams& p, const GuideWParams& defaults) {
    const double odd[] = {kNaN, -kNaN, kInf,   -kInf, 1e300, -1e300, 1e-300, -1e-300,
                          0.0,  -0.0,  5e-324, 1e154, 360.0, -360.0, 1e16};
    boundary_inputs(r, u, p);
    double* f = &u.speed_cmd;
    const int n = 1 + int(r.next() % 4);
    for (int i = 0; i < n; ++i) f[r.next() % 19] = r.pick(odd);
    p = defaults;
    if (r.chance(0.3)) {
        double* scalars[] = {&p.guide_ref, &p.roll_kp, &p.roll_kd,  &p.lat_max, &p.lat_min,
                             &p.nz_max,    &p.nz_min,  &p.thr_gain, &p.thr_max, &p.thr_min};
        *scalars[r.next() % 10] = r.chance(0.5) ? r.pick(odd) : r.uniform(-200, 200);
    }
    if (r.chance(0.1)) {
        p.thr_max_index[0] = uint32_t(r.next() % 14);
        p.thr_max_index[1] = uint32_t(r.chance(0.5) ? r.next() : r.next() % 14);
    }
}

enum class Stream { coherent, unrelated, boundary, extreme };

uint64_t stream_digest(Stream kind, uint64_t seed, long steps) {
    Rng r{seed};
    Model m;
    const GuideWParams defaults = m.p;
    Fnv1a digest;
    if (kind == Stream::coherent) {
        for (long done = 0; done < steps;) {
            m.p = defaults;
            done += fly_segment(r, m, digest, 0.02, steps - done);
        }
        return digest.h;
    }
    for (long i = 0; i < steps; ++i) {
        if (r.chance(0.02)) random_states(r, m.dw);
        if (r.chance(0.01)) m.dw = kFreshStates;
        switch (kind) {
            case Stream::unrelated: unrelated_inputs(r, m.u, m.p); break;
            case Stream::boundary: boundary_inputs(r, m.u, m.p); break;
            default: extreme_inputs(r, m.u, m.p, defaults); break;
        }
        m.step();
        add_values(digest, m.y);
        add_values(digest, m.dw);
    }
    return digest.h;
}

struct StreamCase {
    const char* name;
    Stream kind;
    uint64_t seed;
    long steps;
    uint64_t recorded;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class WideDigest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(WideDigest, GivesTheRecordedBits) {
    const StreamCase& c = GetParam();
    const uint64_t h = stream_digest(c.kind, c.seed, c.steps);
    EXPECT_EQ(h, c.recorded) << c.name << ": digest 0x" << std::hex << h;
}

INSTANTIATE_TEST_SUITE_P(
    MillionSteps, WideDigest,
    ::testing::Values(
        StreamCase{"CoherentFlights", Stream::coherent, 1, 400000, 0x766ba871edfdce1bull},
        StreamCase{"UnrelatedInputs", Stream::unrelated, 2, 250000, 0xdb680439f9adf081ull},
        StreamCase{"BoundaryValues", Stream::boundary, 3, 250000, 0x983bb107abe9c6f3ull},
        StreamCase{"ExtremeAndNonFinite", Stream::extreme, 4, 150000, 0xd6a63b48218b8ccfull}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

}  // namespace
