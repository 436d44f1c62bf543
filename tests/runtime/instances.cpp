// Many aircraft in one process: every instance flies exactly the law of the
// static model on records of its own, whatever threads the host spreads them on.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "GuideW_instance.h"
#include "test_support.h"

// The law takes one exp per step (the atmosphere). Passing it through here
// lets a test enter a second step while the first is still running, without
// any timing: the hook runs once, inside the step, on the same thread.
static thread_local void (*g_inside_step)() = nullptr;
extern "C" double exp(double x) {
    static auto real = reinterpret_cast<double (*)(double)>(dlsym(RTLD_NEXT, "exp"));
    if (auto hook = g_inside_step) {
        g_inside_step = nullptr;
        hook();
    }
    return real(x);
}

namespace {

const double kNaN = NAN, kInf = HUGE_VAL, kRad = 0.017453292519943295;
const double kModes[] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 0.3, kNaN};
template <class T>
bool same(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
bool same(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), 8 * a.size()) == 0;
}
double& field(void* record, size_t i) { return static_cast<double*>(record)[i]; }

// One aircraft wandering about the sky, rolling towards the bank the law asks
// for; now and then a new target (ahead, behind, dead astern, a steep dive),
// a snap to a new attitude (inverted too), a new mode or guidance setting.
struct Flight {
    std::mt19937_64 rng;
    GuideWInputs u = level_flight();
    double guide_ref = 1.0;
    unsigned modes_seen = 0;
    explicit Flight(uint64_t seed) : rng(seed) {
        u.altitude = 3000.0;
        u.speed_cmd = 250.0;
    }
    double U(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
    double N(double s) { return std::normal_distribution<double>(0.0, s)(rng); }
    bool odds(double p) { return U(0.0, 1.0) < p; }
    template <size_t n>
    double pick(const double (&v)[n]) {
        return v[rng() % n];
    }
    static double clamp(double x, double lo, double hi) { return std::fmin(std::fmax(x, lo), hi); }
    void follow(const double* out) {
        if (std::isfinite(out[0])) u.roll += 0.04 * out[0];
    }

    const GuideWInputs& next() {
        u.yaw += N(2.0);
        u.pitch += N(1.5);
        u.roll += N(6.0);
        u.roll_rate = N(30.0);
        u.tas = clamp(u.tas + N(2.0), 60.0, 700.0);
        u.altitude = clamp(u.altitude + N(30.0), -100.0, 18000.0);
        u.azim_cmd = std::fmod(u.azim_cmd + N(3.0) + 360.0, 360.0);
        u.elev_cmd = clamp(u.elev_cmd + N(2.0), -89.0, 89.0);
        u.speed_cmd = clamp(u.speed_cmd + N(1), 80.0, 600.0);
        if (odds(0.005)) {
            u.pitch = U(-90.0, 90.0);
            u.roll = U(-180.0, 180.0);
            u.yaw = U(-180.0, 540.0);
        }
        if (odds(0.008)) {
            const double off[] = {U(-60.0, 60.0), 180.0 + U(-40.0, 40.0), 180.0 + U(-3.0, 3.0)};
            u.azim_cmd = std::fmod(u.yaw + pick(off) + 720.0, 360.0);
            u.elev_cmd = odds(0.4) ? U(-89.0, -46.0) : U(-60.0, 80.0);
        }
        if (odds(0.004)) {
            const size_t i = rng() % 9;
            u.mode = kModes[i];
            modes_seen |= 1u << i;
        }
        if (odds(0.01))
            u.ext_nz = pick({U(1.01, 4.0), -U(1.01, 3.0), U(-1.0, 1.0), 0.05, -0.05, 0.0});
        if (odds(0.01)) u.ext_weight = pick({0.0, 1.0, 0.5, U(0.0, 1.0)});
        if (odds(0.01)) {
            u.ext_bank = U(-180.0, 180.0);
            u.ext_throttle = U(0.0, 1.0);
            u.ext_lat = U(-99, 99);
        }
        if (odds(0.003)) guide_ref = pick({0.0, 1.0, 3.0});
        const double th = (u.pitch + U(-6.0, 6.0)) * kRad, ps = (u.yaw + U(-6.0, 6.0)) * kRad;
        u.vel_up = u.tas * std::sin(th);
        u.vel_north = u.tas * std::cos(th) * std::cos(ps);
        u.vel_east = u.tas * std::cos(th) * std::sin(ps);
        u.aux_in += 1.0;
        return u;
    }
};

// Flies the static model and an instance side by side, stopping at the first
// step whose outputs or states differ in any bit (NaN patterns included).
// Returns the share of steps with the target behind; `seen` collects latches.
double fly_side_by_side(Flight& f, int steps, double nonfinite_rate, GuideWStates& seen) {
    GuideWInstance* m = GuideW_instance_create();
    const GuideWParams saved = GuideW_P;
    GuideW_initialize();
    seen = GuideWStates{};
    GuideWOutputs out;
    double behind = 0.0;
    for (int k = 0; k < steps && !::testing::Test::HasFailure(); ++k) {
        GuideWInputs u = f.next();
        if (f.odds(nonfinite_rate))
            field(&u, f.rng() % GUIDEW_INPUT_COUNT) = f.pick({kNaN, -kNaN, kInf, -kInf});
        if (nonfinite_rate > 0 && k % 700 == 0) {
            GuideW_initialize();
            GuideW_instance_initialize(m);
        }
        GuideW_P.guide_ref = GuideW_instance_params(m)->guide_ref = f.guide_ref;
        GuideW_U = u;
        GuideW_step();
        GuideW_P.guide_ref = 1.0 - f.guide_ref;
        GuideW_P.roll_kp = -1.0;  // the instance must not read these
        if (k % 2) GuideW_instance_one_step(m, &u.speed_cmd, &out.lat_cmd);
        else {
            *GuideW_instance_inputs(m) = u;
            GuideW_instance_step(m);
            out = *GuideW_instance_outputs(m);
        }
        GuideW_P.roll_kp = saved.roll_kp;
        EXPECT_TRUE(same(GuideW_Y, out)) << "outputs, step " << k;
        EXPECT_TRUE(same(GuideW_DW, *GuideW_instance_states(m))) << "states, step " << k;
        f.follow(&out.lat_cmd);
        for (size_t i = 0; i < GUIDEW_STATE_COUNT; ++i)
            if (field(&GuideW_DW, i) == 1.0) field(&seen, i) = 1.0;
        const double ce = u.elev_cmd * kRad, ca = u.azim_cmd * kRad;
        behind += std::cos(ce) * (std::cos(ca) * u.vel_north + std::sin(ca) * u.vel_east) +
                      std::sin(ce) * u.vel_up <
                  0.0;
    }
    GuideW_P = saved;
    GuideW_instance_destroy(m);
    return behind / steps;
}

TEST(InstanceAgainstStaticModel, LongWanderingFlightAgreesToTheLastBit) {
    Flight f(20240611);
    GuideWStates seen;
    const double behind = fly_side_by_side(f, 20000, 0.0, seen);
    EXPECT_GT(behind, 0.15);
    EXPECT_LT(behind, 0.85);          // long stretches in both hemispheres
    EXPECT_EQ(f.modes_seen, 0x1ffu);  // every mode band, boundaries and NaN
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 13, 15})
        EXPECT_EQ(field(&seen, i), 1.0) << "latch " << i << " not flown";
}

TEST(InstanceAgainstStaticModel, NonFiniteInputsGiveTheSameBitPatterns) {
    Flight f(77);
    GuideWStates seen;
    fly_side_by_side(f, 8000, 0.03, seen);  // restarted every 700 steps, as NaN states stay NaN
}

TEST(NewInstance, StartsFromBuildDefaultsNotFromTheRetunedStaticRecord) {
    const GuideWParams saved = GuideW_P;
    GuideW_P.guide_ref = 0.0;
    GuideW_P.roll_kp = 7.0;
    GuideW_P.thr_table[17] = 0.9;
    GuideWInstance* m = GuideW_instance_create();
    GuideW_P = saved;
    GuideWParams defaults;
    GuideW_default_params(&defaults);
    EXPECT_TRUE(same(*GuideW_instance_params(m), defaults));
    EXPECT_TRUE(same(saved, defaults));  // what the static record loads with
    const GuideWStates fresh = kFreshStates;
    EXPECT_TRUE(same(*GuideW_instance_states(m), fresh));
    EXPECT_EQ(GuideW_instance_error_status(m), nullptr);
    // Orbiting with the target behind and far below, then a restart: the
    // retuned law stays, the flight is forgotten.
    GuideW_instance_params(m)->guide_ref = 3.0;
    GuideW_instance_params(m)->roll_kp = 4.0;
    const GuideWParams tuned = *GuideW_instance_params(m);
    Flight f(5);
    f.u.mode = 3.0;
    f.u.azim_cmd = 180.0;
    f.u.elev_cmd = -70.0;
    for (int k = 0; k < 300; ++k) GuideW_instance_one_step(m, &f.next().speed_cmd, nullptr);
    ASSERT_EQ(GuideW_instance_states(m)->orbit_latched, 1.0);
    GuideW_instance_initialize(m);
    EXPECT_TRUE(same(*GuideW_instance_states(m), fresh) && same(*GuideW_instance_params(m), tuned));
    EXPECT_TRUE(same(*GuideW_instance_inputs(m), {}) && same(*GuideW_instance_outputs(m), {}));
    GuideW_instance_destroy(m);
}

// n aircraft, each on its own flight, with guidance on, off, or on the nose.
struct Fleet {
    std::vector<GuideWInstance*> m;
    std::vector<Flight> f;
    explicit Fleet(size_t n, uint64_t seed = 0) {
        for (size_t i = 0; i < n; ++i) {
            m.push_back(GuideW_instance_create());
            f.emplace_back(seed + i);
            GuideW_instance_params(m.back())->guide_ref = i % 3 == 0 ? 1.0 : i % 3 == 1 ? 0.0 : 3.0;
        }
    }
    ~Fleet() {
        for (GuideWInstance* p : m) GuideW_instance_destroy(p);
    }
    void fly(size_t i, int steps, std::vector<double>& trace) {  // appends every output
        for (int k = 0; k < steps; ++k) {
            double y[GUIDEW_OUTPUT_COUNT];
            GuideW_instance_one_step(m[i], &f[i].next().speed_cmd, y);
            f[i].follow(y);
            trace.insert(trace.end(), y, y + GUIDEW_OUTPUT_COUNT);
        }
    }
    const GuideWStates& dw(size_t i) const { return *GuideW_instance_states(m[i]); }
};

// Threads of this process, as the kernel counts them.
size_t threads_running() {
    size_t n = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        n += task.exists();
    return n;
}

// A worker is worth its hand-over only from 64 rows a thread: a smaller
// batch runs on the caller alone, whatever it asks for, and starts no
// thread. These rows run before any other test of this file starts the
// workers (and alone, as ctest runs each test).
TEST(BatchThreads, ASmallBatchRunsOnTheCallerAlone) {
    struct {
        const char* situation;
        size_t rows;
        unsigned threads;
        size_t started;
    } cases[] = {{"10 rows, 8 threads asked: the caller alone", 10, 8, 0},
                 {"64 rows, 8 threads asked: one thread's share", 64, 8, 0},
                 {"65 rows, 2 threads asked: one worker", 65, 2, 1}};
    for (const auto& c : cases) {
        std::vector<GuideWInstance*> m(c.rows);
        for (auto& i : m) i = GuideW_instance_create();
        std::vector<double> in(GUIDEW_INPUT_COUNT * c.rows), out(GUIDEW_OUTPUT_COUNT * c.rows);
        for (size_t i = 0; i < c.rows; ++i) {
            const GuideWInputs u = level_flight();
            std::memcpy(&in[GUIDEW_INPUT_COUNT * i], &u, sizeof u);
        }
        const size_t before = threads_running();
        ASSERT_EQ(GuideW_step_batch(m.data(), c.rows, in.data(), out.data(), c.threads), 0);
        EXPECT_EQ(threads_running(), before + c.started) << c.situation;
        EXPECT_EQ(out[GUIDEW_OUTPUT_COUNT * (c.rows - 1) + 1], 1.0) << c.situation;  // level: 1 g
        for (auto* i : m) GuideW_instance_destroy(i);
    }
}

// Batches use at most 64 threads, the caller's included: asking for more
// gets the cap.
TEST(BatchThreads, StartingWorkersStopsAt64Threads) {
    struct {
        const char* situation;
        unsigned asked, usable;
    } cases[] = {
        {"64 asked", 64, 64}, {"65 asked: the cap", 65, 64}, {"1000 asked: the cap", 1000, 64}};
    for (const auto& c : cases) EXPECT_EQ(GuideW_batch_start(c.asked), c.usable) << c.situation;
}

TEST(InstancesOnThreads, TwoThreadsGiveWhatOneThreadGivesInTurn) {
    Fleet alone(16), shared(16);
    std::vector<std::vector<double>> expected(16), got(16);
    for (size_t i = 0; i < 16; ++i) alone.fly(i, 4000, expected[i]);
    auto eight = [&](size_t first) {  // each thread flies its eight aircraft in turns of 10 steps
        for (int k = 0; k < 4000; k += 10)
            for (size_t i = first; i < first + 8; ++i) shared.fly(i, 10, got[i]);
    };
    std::thread other(eight, 8);
    eight(0);
    other.join();
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_TRUE(same(expected[i], got[i]) && same(alone.dw(i), shared.dw(i)))
            << "aircraft " << i;
        EXPECT_EQ(GuideW_instance_error_status(shared.m[i]), nullptr);
    }
}

TEST(BatchStep, AgreesWithSingleStepsForAnyThreadCountAndBatchSize) {
    for (unsigned threads : {0u, 1u, 2u, 3u, 8u})
        for (size_t n : {1, 63, 64, 65, 1000}) {
            Fleet batch(n, 100), single(n, 100);
            std::vector<double> in(GUIDEW_INPUT_COUNT * n), out(GUIDEW_OUTPUT_COUNT * n),
                ref(GUIDEW_OUTPUT_COUNT * n);
            for (int round = 0; round < 30; ++round) {
                for (size_t i = 0; i < n; ++i)
                    std::memcpy(&in[GUIDEW_INPUT_COUNT * i], &batch.f[i].next(),
                                GUIDEW_INPUT_COUNT * 8);
                ASSERT_EQ(GuideW_step_batch(batch.m.data(), n, in.data(), out.data(), threads), 0);
                for (size_t i = 0; i < n; ++i) {
                    GuideW_instance_one_step(single.m[i], &in[GUIDEW_INPUT_COUNT * i],
                                             &ref[GUIDEW_OUTPUT_COUNT * i]);
                    batch.f[i].follow(&ref[GUIDEW_OUTPUT_COUNT * i]);
                    ASSERT_TRUE(same(batch.dw(i), single.dw(i)))
                        << threads << " threads, row " << i << "/" << n;
                }
                ASSERT_TRUE(same(out, ref)) << threads << " threads, " << n << " rows";
            }
        }
}

TEST(BatchStep, MissingArrayOrAircraftStepsNothing) {
    Fleet fleet(3);
    double in[3 * GUIDEW_INPUT_COUNT], out[3 * GUIDEW_OUTPUT_COUNT];
    std::fill(std::begin(in), std::end(in), 1.0);
    std::fill(std::begin(out), std::end(out), -123.0);
    GuideWInstance* holed[3] = {fleet.m[0], fleet.m[1], nullptr};
    EXPECT_EQ(GuideW_step_batch(nullptr, 3, in, out, 1), -1);
    EXPECT_EQ(GuideW_step_batch(fleet.m.data(), 3, nullptr, out, 1), -1);
    EXPECT_EQ(GuideW_step_batch(fleet.m.data(), 3, in, nullptr, 1), -1);
    EXPECT_EQ(GuideW_step_batch(holed, 3, in, out, 4), -1);
    EXPECT_EQ(GuideW_step_batch(fleet.m.data(), 0, in, out, 1), 0);
    for (double y : out) EXPECT_EQ(y, -123.0);
    for (GuideWInstance* m : fleet.m) EXPECT_EQ(GuideW_instance_inputs(m)->aux_in, 0.0);
    GuideWInstance* twice[2] = {fleet.m[0], fleet.m[0]};  // one thread: steps twice, in order
    in[2 * GUIDEW_INPUT_COUNT - 1] = 2.0;                 // aux_in of the second row
    EXPECT_EQ(GuideW_step_batch(twice, 2, in, out, 1), 0);
    EXPECT_EQ(out[GUIDEW_OUTPUT_COUNT - 1], 1.0);
    EXPECT_EQ(out[2 * GUIDEW_OUTPUT_COUNT - 1], 2.0);
    EXPECT_EQ(GuideW_instance_error_status(fleet.m[0]), nullptr);
}

// A step of an aircraft entered while that aircraft's step is still running
// is skipped and reported; another aircraft stepped meanwhile is unaffected.
TEST(OverrunGuard, StepEnteredDuringTheSameAircraftsStepIsSkipped) {
    static Fleet fleet(4);  // aircraft 0 and 3 fly the same law
    static double in2[GUIDEW_INPUT_COUNT], out2[GUIDEW_OUTPUT_COUNT] = {-1, -1, -1, -1},
                                           out_b[GUIDEW_OUTPUT_COUNT];
    std::fill(in2, in2 + GUIDEW_INPUT_COUNT, 2.0);
    for (GuideWInstance* m : fleet.m) GuideW_instance_initialize(m);
    g_inside_step = [] {
        GuideW_instance_one_step(fleet.m[0], in2, out2);
        GuideW_instance_step(fleet.m[0]);
        GuideW_instance_one_step(fleet.m[1], in2, out_b);
    };
    GuideWInputs u = fleet.f[0].next();
    double out[GUIDEW_OUTPUT_COUNT], ref[GUIDEW_OUTPUT_COUNT];
    GuideW_instance_one_step(fleet.m[0], &u.speed_cmd, out);
    ASSERT_EQ(g_inside_step, nullptr);  // the hook did run inside the step
    GuideW_instance_one_step(fleet.m[3], &u.speed_cmd, ref);
    EXPECT_TRUE(same(out, ref) && same(fleet.dw(0), fleet.dw(3)) &&
                same(*GuideW_instance_inputs(fleet.m[0]), u));
    EXPECT_EQ(out2[0], -1.0);
    EXPECT_EQ(out2[3], -1.0);  // the intruding step wrote nothing
    EXPECT_STREQ(GuideW_instance_error_status(fleet.m[0]), "Overrun");
    EXPECT_EQ(out_b[3], 2.0);
    EXPECT_EQ(GuideW_instance_error_status(fleet.m[1]), nullptr);
    GuideW_instance_one_step(fleet.m[0], in2, out);
    EXPECT_EQ(out[3], 2.0);  // released once the step is over
    EXPECT_STREQ(GuideW_instance_error_status(fleet.m[0]), "Overrun");  // kept until a restart
    GuideW_instance_initialize(fleet.m[0]);
    EXPECT_EQ(GuideW_instance_error_status(fleet.m[0]), nullptr);
}

}  // namespace
