// Lateral and load commands by mode: blends, the mode-2 external bank
// takeover, the orbit with altitude correction, direct commands, roll law.
#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

namespace {
// Wings level at 200 m/s, guidance asking for 1 g and no bank.
struct Mixer {
    GuideWInputs u = level_flight();
    GuideWParams p = GuideW_P;
    FlightState fs{0, 0, 0, 1, 200, 5, 200};
    GuidanceResults res{1, 0, 200};
    GuideWStates dw = kFreshStates;
    GuideWOutputs y{};
    const GuideWOutputs& mix() {
        const InputRoles in = input_roles(u);
        const MixedCommands m =
            mix_commands(in.band, in.command, in.external, in.aircraft, p, fs, res, dw);
        y.lat_cmd = m.lat_cmd;
        y.nz_cmd = m.nz_cmd;
        return y;
    }
    void orbit(double ext_nz, double alt_ref, double yaw_ref) {
        u.mode = 3;
        u.ext_nz = ext_nz;
        dw.orbit_latched = 1;
        dw.orbit_alt_ref = alt_ref;
        dw.orbit_yaw_ref = yaw_ref;
    }
};
}  // namespace

TEST(RollLaw, BankErrorInsideTheBandBoundOutside) {
    // {bank, roll, roll rate, lat_cmd}
    const double cases[][4] = {
        {30, 0, 0, 30},         {59, 0, 0, 59},    {61, 0, 0, 150},
        {-70, 0, 0, -150},      {30, 0, 100, 30},  // rolling towards the bank: damped, error passes
        {180, 0, 1200, 180},                       // damped exactly onto the bound: still inside
        {180, 0, 1199, 150},                       // damped a little less: beyond it
        {-180, 0, -1200, -180},                    // damped exactly onto the lower bound: inside
        {-180, 0, -1199, -150},                    // a little less: beyond it
        {170, -170, 0, -20},    {-170, 170, 0, 20}};  // inverted: the short way round
    for (const auto& c : cases) {
        Mixer m;
        m.res.bank_guid_deg = c[0];
        m.fs.roll_n_deg = c[1];
        m.u.roll_rate = c[2];
        EXPECT_EQ(m.mix().lat_cmd, c[3]) << c[0] << " from " << c[1] << " at " << c[2] << " deg/s";
    }
}

TEST(Blend, ExternalWeightIsFormedFromTheGuidanceWeightAndLoadIsLimited) {
    Mixer m;
    m.u.ext_bank = 30;
    m.u.ext_nz = 3;
    m.u.ext_weight = 0.1;
    EXPECT_EQ(m.mix().lat_cmd, 2.999999999999999);  // external weight 1 - 0.9, not 0.1
    EXPECT_EQ(m.y.nz_cmd, 1.2);
    m.u.ext_weight = 1;
    m.u.ext_nz = 12;
    EXPECT_EQ(m.mix().lat_cmd, 30);
    EXPECT_EQ(m.y.nz_cmd, 9);
    m.u.ext_nz = -7;
    EXPECT_EQ(m.mix().nz_cmd, -5);
}

struct TakeoverCase {
    const char* situation;
    double mode, weight, roll;
    bool latched;
};

// Guidance asks for the present roll; an external bank of 30 deg takes over
// once it opposes the roll while both sources carry real weight, and the
// load then becomes that of level flight in the present attitude.
TEST(ExternalBank, TakesOverOnlyInMode2InsideTheWeightWindow) {
    const TakeoverCase cases[] = {
        {"opposing, half weight", 2, 0.5, -10, true},
        {"guidance weight exactly 0.95", 2, 0.05, -10, false},
        {"guidance weight a hair above 0.05", 2, 0.95, -10, true},
        {"guidance weight a hair below 0.05", 2, 0.9500000000000001, -10, false},
        {"guidance weight a hair below 0.95", 2, 0.050000000000000155, -10, true},
        {"wings level", 2, 0.5, 0, false},
        {"already on the external side", 2, 0.5, 10, false},
        {"mode 1", 1, 0.5, -10, false},
        {"mode exactly 1.5", 1.5, 0.5, -10, false}};
    for (const TakeoverCase& c : cases) {
        Mixer m;
        m.u.mode = c.mode;
        m.u.ext_weight = c.weight;
        m.u.ext_bank = 30;
        m.u.ext_nz = 3;
        m.fs.roll_n_deg = m.res.bank_guid_deg = c.roll;
        const double g = 1 - c.weight;
        m.mix();
        EXPECT_EQ(m.dw.ext_bank_latch, c.latched ? 1 : 0) << c.situation;
        EXPECT_EQ(m.y.lat_cmd, (c.latched ? 30 : g * c.roll + 30 * (1 - g)) - c.roll)
            << c.situation;
        EXPECT_EQ(m.y.nz_cmd, c.latched ? std::cos((c.roll / 180) * M_PI) : g * 1 + 3 * (1 - g))
            << c.situation;
    }
}

// Once latched the bank stays external while the roll crosses over (the load
// returns to the blend) and through a spell in mode 1, until the guidance
// weight leaves (0.05, 0.95) in mode 2.
TEST(ExternalBank, LatchHoldsThroughRollReversalAndMode1) {
    Mixer m;
    m.u.ext_bank = 30;
    m.u.ext_nz = 3;
    const double opposing = std::cos((-10.0 / 180) * M_PI);
    struct {
        const char* situation;
        double mode, weight, roll, lat, nz;
    } steps[] = {
        {"opposing: latched", 2, 0.5, -10, 40, opposing},
        {"roll crosses over", 2, 0.5, 10, 20, 2},
        {"mode 1", 1, 0, 10, 0, 1},
        {"exactly 1.5: the blend", 1.5, 0.5, 10, 10, 2},
        {"back in mode 2", 2, 0.5, 10, 20, 2},
        {"guidance weight a hair above 0.05", 2, 0.95, 10, 20, 2.9},
        {"guidance weight a hair below 0.95", 2, 0.050000000000000155, 10, 20, 1.1},
        {"guidance weight a hair below 0.05: released", 2, 0.9500000000000001, 10, 19, 2.9},
        {"opposing again: latched", 2, 0.5, -10, 40, opposing},
        {"guidance weight exactly 0.95: released", 2, 0.05, 10, 1, 1.1},
        {"stays released", 2, 0.5, 10, 10, 2}};
    for (const auto& s : steps) {
        m.u.mode = s.mode;
        m.u.ext_weight = s.weight;
        m.fs.roll_n_deg = m.res.bank_guid_deg = s.roll;
        EXPECT_NEAR(m.mix().lat_cmd, s.lat, 1e-12) << s.situation;
        EXPECT_NEAR(m.y.nz_cmd, s.nz, 1e-12) << s.situation;
    }
}

// Rolled to the 60 deg of a 2 g turn at 200 m/s: on the altitude profile the
// lateral command vanishes. The profile rises by the turn radius times
// sin(elev_cmd), converted with 57.3, for every 90 deg of heading turned.
TEST(Orbit, AltitudeTargetRisesWithHeadingTurnedAndComesBack) {
    const double rise = ((200.0 * 200.0) / 9.81) / std::sqrt(3.0) * std::sin(10 / 57.3);
    EXPECT_NEAR(rise, 408.8, 0.05);
    // {yaw_ref, yaw, quarter turns of climb, commanded speed}: a quarter, a
    // half, three quarters (back down), three quarters across the +-180
    // wrap; the radius is that of the commanded speed, whatever the aircraft
    // flies (200 m/s here): at 150 m/s, (150/200)^2 of it.
    const double cases[][4] = {{0, 90, 1, 200},     {0, 180, 2, 200},     {0, -90, 1, 200},
                               {-100, 170, 1, 200}, {0, 90, 0.5625, 150}, {0, 180, 1.125, 150}};
    for (const auto& c : cases) {
        Mixer m;
        m.orbit(2, 1000, c[0]);
        m.u.speed_cmd = c[3];
        m.u.elev_cmd = 10;
        m.u.altitude = 1000 + c[2] * rise;
        m.fs.yaw_n_deg = c[1];
        m.fs.roll_n_deg = 60;
        EXPECT_NEAR(m.mix().lat_cmd, 0, 1e-9) << c[0] << " to " << c[1] << " at " << c[3] << " m/s";
    }
}

TEST(Orbit, AltitudeCorrectionIsLimitedTo30Degrees) {
    const double above_and_correction[][2] = {{100, 20}, {200, 30}, {-200, -30}};
    for (const auto& c : above_and_correction) {
        Mixer m;
        m.orbit(2, 1000, 0);
        m.u.altitude = 1000 + c[0];
        m.fs.roll_n_deg = 60;
        EXPECT_NEAR(m.mix().lat_cmd, c[1], 1e-9) << c[0] << " m above the orbit's altitude";
    }
}

// No turn can be held at 1 g or less: the orbit then flies wings level and
// holds the altitude it was entered at, still correcting towards it (50 m
// above: 10 deg). A hair above 1 g a turn exists, of vanishing bank and a
// radius so large that a quarter turn's climb puts the target far above:
// the full 30 deg correction down. A hair beyond -1 g the turn is flown
// upside down, about 180 deg of bank: the roll law's bound.
TEST(Orbit, AtOneGOrLessCommandsStayFinite) {
    const double above_1g = std::nextafter(1.0, 2.0);
    const double cases[][2] = {{0.0, 10},
                               {0.05, 10},
                               {-0.05, 10},
                               {0.5, 10},
                               {1.0, 10},
                               {-1.0, 10},
                               {above_1g, -30 + std::acos(1 / above_1g) * 180 / M_PI},
                               {-above_1g, 150}};
    for (const auto& c : cases) {
        Mixer m;
        m.orbit(c[0], 1000, 0);
        m.u.elev_cmd = 10;
        m.u.altitude = 1050;
        m.fs.yaw_n_deg = 90;
        EXPECT_NEAR(m.mix().lat_cmd, c[1], 1e-12) << "ext_nz " << c[0];
        EXPECT_EQ(m.y.nz_cmd, c[0]) << "ext_nz " << c[0];
    }
}

TEST(Orbit, ReferencesKeptThroughMode4AndRetakenAfterALowerMode) {
    Mixer m;
    m.u.ext_nz = 2;
    m.u.altitude = 1000;
    // {mode, orbit_yaw_ref, orbit_latched}; the aircraft moves on after step 0
    const double steps[][3] = {{3, 0, 1}, {4, 0, 1},   {3, 0, 1}, {2.5, 0, 1},
                               {2, 0, 0}, {2.5, 0, 0}, {3, 60, 1}};
    for (const auto& s : steps) {
        m.u.mode = s[0];
        m.mix();
        EXPECT_EQ(m.dw.orbit_yaw_ref, s[1]) << "mode " << s[0];
        EXPECT_EQ(m.dw.orbit_alt_ref, 1000 + s[1]) << "mode " << s[0];
        EXPECT_EQ(m.dw.orbit_latched, s[2]) << "mode " << s[0];
        m.fs.yaw_n_deg = 60;
        m.u.altitude = 1060;
    }
}

// The whole step across the mode bands, each edge approached from both sides.
// On course (track 40) at 210 m/s, rolled 20 right, 220 m/s wanted, the
// external source asking for 30 deg left, 2 g, throttle 40 and lat 300 at half
// weight. Below 1.5 the blend (bank -15) and the speed hold (10 m/s slow:
// 5 x 10 plus the trim at sea level and 210 m/s, a fifth of the way from the
// default table's 200 m/s entry to its 250 m/s one); from 1.5 on the external
// throttle. In mode 2 the opposing external bank takes over with the load of
// level flight at 20 deg of roll; at 2.5 wings level; up to 3.5 the 60 deg of
// a 2 g orbit; beyond, the external commands, unlimited. A mode that is not
// a number fails every comparison, as 2.5 fails its neighbours' strict ones:
// wings level. Each row's band is also the public classifier's answer.
TEST(Modes, EveryBandAndEdgeThroughTheWholeStep) {
    const GuideWModeBand blend = GUIDEW_BAND_BLEND,
                         blend_external_throttle = GUIDEW_BAND_BLEND_EXT_THROTTLE,
                         takeover = GUIDEW_BAND_TAKEOVER, wings_level = GUIDEW_BAND_WINGS_LEVEL,
                         orbit = GUIDEW_BAND_ORBIT, direct = GUIDEW_BAND_DIRECT;
    const double speed_hold = 0.01 * (50 + 0.339905 + 0.2 * (0.546143 - 0.339905));
    const struct {
        double lat, nz, throttle;
    } expect[] = {{-35, 1.5, speed_hold}, {-35, 1.5, 0.4}, {-50, std::cos(20 * M_PI / 180), 0.4},
                  {-20, 1.6, 0.4},        {40, 1.6, 0.4},  {300, 2, 0.4}};
    struct {
        const char* situation;
        double mode;
        GuideWModeBand band;
    } cases[] = {{"mode 0", 0, blend},
                 {"mode 1", 1, blend},
                 {"a hair below 1.5", std::nextafter(1.5, 0), blend},
                 {"exactly 1.5", 1.5, blend_external_throttle},
                 {"a hair above 1.5", std::nextafter(1.5, 2), takeover},
                 {"mode 2", 2, takeover},
                 {"a hair below 2.5", std::nextafter(2.5, 0), takeover},
                 {"exactly 2.5", 2.5, wings_level},
                 {"a hair above 2.5", std::nextafter(2.5, 3), orbit},
                 {"mode 3", 3, orbit},
                 {"exactly 3.5", 3.5, orbit},
                 {"a hair above 3.5", std::nextafter(3.5, 4), direct},
                 {"mode 4", 4, direct},
                 {"mode not a number", NAN, wings_level}};
    for (const auto& c : cases) {
        Model m;
        fly_along(m.u, 210, 40, 0);
        m.u.tas = 210;
        m.u.roll = 20;
        m.u.speed_cmd = 220;
        m.u.azim_cmd = 40;
        m.u.mode = c.mode;
        m.u.ext_weight = 0.5;
        m.u.ext_bank = -30;
        m.u.ext_nz = 2;
        m.u.ext_lat = 300;
        m.u.ext_throttle = 40;
        const GuideWOutputs& y = m.step();
        EXPECT_EQ(GuideW_mode_band(c.mode), c.band) << c.situation;
        EXPECT_NEAR(y.lat_cmd, expect[c.band].lat, 1e-9) << c.situation;
        EXPECT_NEAR(y.nz_cmd, expect[c.band].nz, 1e-9) << c.situation;
        EXPECT_NEAR(y.throttle_cmd, expect[c.band].throttle, 1e-12) << c.situation;
    }
}
