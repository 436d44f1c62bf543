// What one step of the law costs in the three ways hosts call it, each beside
// the floor of the maths-library calls a step of the law would make, both
// measured in the same run:
//   (a) a random stream: every step an unrelated, realistic situation, as
//       when a host steps many unrelated scenarios through one model;
//   (b) one aircraft flying consecutive steps of a smooth flight;
//   (c) a fleet: 1000 aircraft, each on a smooth flight of its own, stepped
//       round-robin through GuideW_step_batch on one thread (and on two,
//       against one).
// The program ends with each pattern's step/floor ratio, the batch's gain
// from a second thread, and the 50th, 99th and 99.9th percentiles of the
// time of single steps of (a) and (b), which real-time hosts care about.
// By default every benchmark runs 5 times, the runs interleaved at random,
// and each figure is the best of its runs: other processes sharing the
// machine only ever add time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GuideW.h"
#include "GuideW_instance.h"
#include "atmosphere.h"
#include "law_constants.h"
#include "typical_flight.h"

namespace {

constexpr size_t kPoolSize = 4096;      // a power of two: the index wraps by a mask
constexpr size_t kFlightSteps = 16384;  // (b): 164 s of one flight, a power of two
constexpr size_t kFleet = 1000;         // (c): aircraft
constexpr size_t kFleetSteps = 128;     // (c): steps of each aircraft's flight

// Demands of the size a step forms: a turn and a pull over time constants
// typical of moderate errors.
constexpr double kTypicalTurnTime_s = 3.0;
constexpr double kTypicalPitchTime_s = 1.6;

struct Rng {
    uint64_t s;
    double uniform(double lo, double hi) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return lo + (hi - lo) * (double(s >> 11) * 0x1.0p-53);
    }
};

// ---- The inputs of the three patterns -------------------------------------

// (a) An aircraft in ordinary flight (banked up to 90 deg, now and then
// beyond), its velocity along its heading and pitch, a command anywhere
// around it (half of them behind), mostly mode 1 with no external weight.
GuideWInputs realistic_inputs(Rng& r) {
    GuideWInputs u{};
    u.yaw = r.uniform(-180, 180);
    u.pitch = r.uniform(-40, 40);
    u.roll = r.uniform(0, 1) < 0.9 ? r.uniform(-90, 90) : r.uniform(-180, 180);
    u.roll_rate = r.uniform(-60, 60);
    u.tas = r.uniform(120, 350);
    u.altitude = r.uniform(500, 12000);
    const double track = (u.yaw + r.uniform(-5, 5)) * kRadPerDeg;
    const double pitch = u.pitch * kRadPerDeg;
    u.vel_up = u.tas * std::sin(pitch);
    u.vel_north = u.tas * std::cos(pitch) * std::cos(track);
    u.vel_east = u.tas * std::cos(pitch) * std::sin(track);
    u.azim_cmd = r.uniform(0, 360);
    u.elev_cmd = r.uniform(-60, 60);
    u.speed_cmd = r.uniform(150, 350);
    const double m = r.uniform(0, 1);
    u.mode = m < 0.7 ? 1.0 : m < 0.8 ? 2.0 : m < 0.9 ? 3.0 : 4.0;
    u.ext_weight = r.uniform(0, 1) < 0.7 ? 0.0 : r.uniform(0, 1);
    u.ext_nz = r.uniform(1, 4);
    u.ext_bank = r.uniform(-60, 60);
    u.ext_throttle = r.uniform(0, 100);
    u.ext_lat = r.uniform(-100, 100);
    u.aux_in = r.uniform(-1, 1);
    return u;
}

const std::vector<GuideWInputs>& random_stream() {
    static const std::vector<GuideWInputs> pool = [] {
        Rng r{12345};
        std::vector<GuideWInputs> p(kPoolSize);
        for (GuideWInputs& u : p) u = realistic_inputs(r);
        return p;
    }();
    return pool;
}

// (b), (c) A smooth flight sampled every step, flown as a pilot follows the
// commands: every 20 s a new command somewhere within 150 deg of the
// heading; the aircraft rolls (at most 20 deg/s) into a coordinated turn
// towards it, banked up to 60 deg, with a slow weave of a few degrees on
// top, and pitches towards the commanded elevation. The speed drifts, a
// little wind lies between heading and track. Mode 1, no external weight.
// Each seed flies its own.
std::vector<GuideWInputs> smooth_flight(uint64_t seed, size_t steps) {
    constexpr double kHold_s = 20.0, kMaxRollRate_degps = 20.0, kMaxBank_deg = 60.0;
    Rng r{seed};
    const double weave_deg = r.uniform(0, 5);
    const double weave_period_s = r.uniform(5, 20);
    const double wind_deg = r.uniform(-5, 5);
    const double tas0 = r.uniform(150, 300);
    double yaw = r.uniform(-180, 180);
    double altitude = r.uniform(1000, 10000);
    double roll = 0.0, pitch = 0.0;
    const size_t hold_steps = size_t(kHold_s / kStep_s);
    size_t next_command = size_t(r.uniform(0, double(hold_steps)));  // fleets out of step

    std::vector<GuideWInputs> flight(steps);
    GuideWInputs u = kTypicalFlight;
    u.aux_in = r.uniform(-1, 1);
    for (size_t k = 0; k < steps; ++k) {
        const double t = double(k) * kStep_s;
        if (k == next_command || k == 0) {
            u.azim_cmd = std::fmod(yaw + r.uniform(-150, 150) + kFullTurn_deg, kFullTurn_deg);
            u.elev_cmd = r.uniform(-15, 15);
            u.speed_cmd = r.uniform(180, 300);
            next_command = k + hold_steps;
        }
        const double az_err_deg = std::remainder(u.azim_cmd - yaw, kFullTurn_deg);
        const double bank_deg = std::clamp(2.0 * az_err_deg, -kMaxBank_deg, kMaxBank_deg) +
                                weave_deg * std::sin(2 * kPi * t / weave_period_s);
        const double roll_rate =
            std::clamp((bank_deg - roll) / 0.5, -kMaxRollRate_degps, kMaxRollRate_degps);
        roll += roll_rate * kStep_s;
        pitch += std::clamp((u.elev_cmd - pitch) / 2.0, -5.0, 5.0) * kStep_s;
        u.roll = roll;
        u.roll_rate = roll_rate;
        u.pitch = pitch;
        u.tas = tas0 + 20 * std::sin(0.05 * t);
        const double turn_degps = kDegPerRad * kGravity_mps2 * std::tan(roll * kRadPerDeg) / u.tas;
        yaw = std::remainder(yaw + turn_degps * kStep_s, kFullTurn_deg);
        u.yaw = yaw;
        const double track = (yaw + wind_deg) * kRadPerDeg, pitch_rad = pitch * kRadPerDeg;
        u.vel_up = u.tas * std::sin(pitch_rad);
        u.vel_north = u.tas * std::cos(pitch_rad) * std::cos(track);
        u.vel_east = u.tas * std::cos(pitch_rad) * std::sin(track);
        altitude += u.vel_up * kStep_s;
        u.altitude = altitude;
        flight[k] = u;
    }
    return flight;
}

const std::vector<GuideWInputs>& one_flight() {
    static const std::vector<GuideWInputs> flight = smooth_flight(2024, kFlightSteps);
    return flight;
}

// Row-major as GuideW_step_batch takes them: for each step of the fleet's
// flights, one row per aircraft. Each aircraft is caught somewhere between
// 10 and 40 s into its flight, so the fleet is spread over every phase of
// following its commands.
const std::vector<GuideWInputs>& fleet_rows() {
    static const std::vector<GuideWInputs> rows = [] {
        std::vector<GuideWInputs> all(kFleet * kFleetSteps);
        for (size_t a = 0; a < kFleet; ++a) {
            const size_t skip = 1000 + (a * 2971) % 3000;
            const std::vector<GuideWInputs> f = smooth_flight(1000 + a, skip + kFleetSteps);
            for (size_t k = 0; k < kFleetSteps; ++k) all[k * kFleet + a] = f[skip + k];
        }
        return all;
    }();
    return rows;
}

// The static model, freshly initialised, default parameters.
void restart() {
    GuideW_initialize();
    GuideW_default_params(&GuideW_P);
}

// ---- The floor ------------------------------------------------------------

// The maths-library calls of one guided step in mode 1, by stage:
//   conditioning   floor x5 (three angles into 0..360, two of them again),
//                  exp x1 and sqrt x1 (density), sqrt x1 (speed)
//   geometry       sqrt x3 (speeds, unit vector), asin x1 (path angle),
//                  atan x1 (track), sine and cosine of 7 angles (command
//                  azimuth and elevation, track, path angle, yaw, pitch,
//                  roll), acos x3 (angles between directions)
//   pursuit / rear sqrt x1 (total load), atan x1 (bank)
// (floor and sqrt compile to a few instructions, here as in the step.)
// Each call gets an argument like the step's (the same direction vectors
// and dot products, demands of the same size) and waits for the results it
// depends on in the step; the arithmetic around the calls only forms those
// arguments. The sine and cosine of each angle are taken together (the
// compiler joins them into one sincos call): the least a step that forms
// every direction and angle could pay. A step that skips what its branch
// does not need can come in below it.
inline void floor_calls(const GuideWInputs& u) {
    for (double a : {u.pitch, u.roll, u.yaw, u.roll + kHalfTurn_deg, u.yaw + kHalfTurn_deg}) {
        benchmark::DoNotOptimize(std::floor(a / kFullTurn_deg));
    }
    const double sigma_root = density_ratio_root(u.altitude);
    benchmark::DoNotOptimize(sigma_root);
    benchmark::DoNotOptimize(
        std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east + u.vel_up * u.vel_up));

    const double v_h = std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east);
    const double v = std::sqrt(v_h * v_h + u.vel_up * u.vel_up);
    const double gamma = std::asin(u.vel_up / v);
    const double chi = kHalfPi_rad - std::atan(u.vel_north / u.vel_east);
    const double az = u.azim_cmd * kRadPerDeg, el = u.elev_cmd * kRadPerDeg;
    const double sa = std::sin(az), ca = std::cos(az);
    const double se = std::sin(el), ce = std::cos(el);
    const double sc = std::sin(chi), cc = std::cos(chi);
    const double sg = std::sin(gamma), cg = std::cos(gamma);
    const double yaw = u.yaw * kRadPerDeg, sy = std::sin(yaw), cy = std::cos(yaw);
    const double pitch = u.pitch * kRadPerDeg, sp = std::sin(pitch), cp = std::cos(pitch);
    const double roll = u.roll * kRadPerDeg, sr = std::sin(roll), cr = std::cos(roll);
    const double up_x = -sy * sr - cy * sp * cr, up_y = cp * cr, up_z = cy * sr - sy * sp * cr;
    const double up_n = std::sqrt(up_x * up_x + up_y * up_y + up_z * up_z);
    const double vel_dot = (cc * ca + sc * sa) * cg * ce + sg * se;
    const double nose_dot = (cy * ca + sy * sa) * cp * ce + sp * se;
    benchmark::DoNotOptimize(std::acos(std::min(1.0, std::max(-1.0, vel_dot))));
    benchmark::DoNotOptimize(std::acos(std::min(1.0, std::max(-1.0, nose_dot))));
    benchmark::DoNotOptimize(std::acos(std::min(1.0, std::max(-1.0, up_y / up_n))));

    const double n_h = (az - chi) * v_h / (kGravity_mps2 * kTypicalTurnTime_s / sigma_root);
    const double n_v = cg + (el - gamma) * v / (kGravity_mps2 * kTypicalPitchTime_s / sigma_root);
    benchmark::DoNotOptimize(std::sqrt(n_h * n_h + n_v * n_v));
    benchmark::DoNotOptimize(std::atan(n_h / cg));
}

// ---- (a) a random stream ----------------------------------------------------

// A new input record every step, the states carried on: neither the step's
// branches nor the paths inside the maths library repeat.
void BM_RandomStream(benchmark::State& state) {
    restart();
    const std::vector<GuideWInputs>& pool = random_stream();
    size_t i = 0;
    for (auto _ : state) {
        GuideW_U = pool[i++ & (kPoolSize - 1)];
        GuideW_step();
    }
}

void BM_RandomStreamFloor(benchmark::State& state) {
    const std::vector<GuideWInputs>& pool = random_stream();
    size_t i = 0;
    for (auto _ : state) floor_calls(pool[i++ & (kPoolSize - 1)]);
}

// ---- (b) one aircraft's smooth flight ---------------------------------------

void BM_SmoothFlight(benchmark::State& state) {
    restart();
    const std::vector<GuideWInputs>& flight = one_flight();
    size_t k = 0;
    for (auto _ : state) {
        GuideW_U = flight[k++ & (kFlightSteps - 1)];
        GuideW_step();
    }
}

void BM_SmoothFlightFloor(benchmark::State& state) {
    const std::vector<GuideWInputs>& flight = one_flight();
    size_t k = 0;
    for (auto _ : state) floor_calls(flight[k++ & (kFlightSteps - 1)]);
}

// ---- (c) a fleet, round-robin through the batch -------------------------------

// One iteration is one period: every aircraft of the fleet takes its next
// step; the time per iteration divided by 1000 is the time per
// aircraft-step. Wall clock, which counts the workers' time too.
void BM_FleetBatch(benchmark::State& state) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    const std::vector<GuideWInputs>& rows = fleet_rows();
    std::vector<GuideWInstance*> fleet(kFleet);
    for (GuideWInstance*& m : fleet) m = GuideW_instance_create();
    GuideW_batch_start(threads);
    std::vector<double> outputs(kFleet * GUIDEW_OUTPUT_COUNT);
    size_t k = 0;
    for (auto _ : state) {
        GuideW_step_batch(fleet.data(), kFleet, &rows[k * kFleet].speed_cmd, outputs.data(),
                          threads);
        k = (k + 1) % kFleetSteps;
    }
    for (GuideWInstance* m : fleet) GuideW_instance_destroy(m);
}

void BM_FleetFloor(benchmark::State& state) {
    const std::vector<GuideWInputs>& rows = fleet_rows();
    size_t k = 0;
    for (auto _ : state) {
        for (size_t a = 0; a < kFleet; ++a) floor_calls(rows[k * kFleet + a]);
        k = (k + 1) % kFleetSteps;
    }
}

// ---- Single situations, and the batch as the Python benchmark meets it -----

void BM_ForwardTargetStep(benchmark::State& state) {
    restart();
    GuideW_U = kTypicalFlight;
    for (auto _ : state) GuideW_step();
}

// Behind and diving: a steep dive command gives the split manoeuvre (roll,
// then pull through); a shallow one, almost straight behind, a rear turn
// with its direction latched.
void BM_RearManoeuvreStep(benchmark::State& state, double azim_cmd, double elev_cmd) {
    restart();
    GuideW_U = kTypicalFlight;
    GuideW_U.azim_cmd = azim_cmd;
    GuideW_U.elev_cmd = elev_cmd;
    GuideW_U.roll = 30.0;
    for (auto _ : state) GuideW_step();
}

void BM_GuidanceOffStep(benchmark::State& state) {
    restart();
    GuideW_P.guide_ref = 0.0;
    GuideW_U = kTypicalFlight;
    for (auto _ : state) GuideW_step();
}

// 1000 instances per call, each call on the next window of the random
// stream (bench/bench_python_batch.py compares its Python batch with this).
void BM_BatchStep(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const unsigned threads = static_cast<unsigned>(state.range(1));
    std::vector<GuideWInstance*> models(count);
    for (GuideWInstance*& m : models) m = GuideW_instance_create();
    const double* inputs = &random_stream()[0].speed_cmd;
    std::vector<double> outputs(count * GUIDEW_OUTPUT_COUNT);
    size_t window = 0;
    std::chrono::steady_clock::duration elapsed{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        GuideW_step_batch(models.data(), count, inputs + GUIDEW_INPUT_COUNT * window,
                          outputs.data(), threads);
        elapsed += std::chrono::steady_clock::now() - start;
        window = (window + 17) % (kPoolSize - count);
    }
    state.counters["ns_per_aircraft"] =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
        (double(state.iterations()) * double(count));
    for (GuideWInstance* m : models) GuideW_instance_destroy(m);
}

void BM_Look2(benchmark::State& state) {
    const std::vector<GuideWInputs>& pool = random_stream();
    const GuideWParams& p = GuideW_P;
    size_t i = 0;
    for (auto _ : state) {
        const GuideWInputs& u = pool[i++ & (kPoolSize - 1)];
        benchmark::DoNotOptimize(look2_binlcapw(u.altitude, u.tas, p.thr_alt_bp, p.thr_spd_bp,
                                                p.thr_table, p.thr_max_index, kTrimStride));
    }
}

}  // namespace

BENCHMARK(BM_RandomStream);
BENCHMARK(BM_RandomStreamFloor);
BENCHMARK(BM_SmoothFlight);
BENCHMARK(BM_SmoothFlightFloor);
BENCHMARK(BM_FleetBatch)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FleetFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ForwardTargetStep);
BENCHMARK_CAPTURE(BM_RearManoeuvreStep, split, 120.0, -60.0);
BENCHMARK_CAPTURE(BM_RearManoeuvreStep, turn, 178.0, -10.0);
BENCHMARK(BM_GuidanceOffStep);
BENCHMARK(BM_BatchStep)->Args({1000, 1})->Args({1000, 2})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Look2);

namespace {

double ns_per_unit(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kSecond: return 1e9;
        case benchmark::kMillisecond: return 1e6;
        case benchmark::kMicrosecond: return 1e3;
        default: return 1.0;
    }
}

// Passes every result on to the reporter chosen by --benchmark_format and
// keeps the least CPU and the least wall-clock time per iteration, in ns,
// of each benchmark over its repetitions.
class RecordingReporter : public benchmark::BenchmarkReporter {
public:
    explicit RecordingReporter(benchmark::BenchmarkReporter* display) : display_(display) {}
    bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With --benchmark_report_aggregates_only only the aggregates
            // come here: then the minimum or median stands for the runs.
            const bool usable = run.run_type == Run::RT_Iteration || run.aggregate_name == "min" ||
                                run.aggregate_name == "median";
            if (!usable || run.error_occurred) continue;
            const double unit = ns_per_unit(run.time_unit);
            keep_least(cpu_ns_, run.run_name.str(), run.GetAdjustedCPUTime() * unit);
            keep_least(real_ns_, run.run_name.str(), run.GetAdjustedRealTime() * unit);
        }
        display_->ReportRuns(runs);
    }
    void Finalize() override { display_->Finalize(); }

    const double* cpu_ns(const std::string& name) const { return find(cpu_ns_, name); }
    const double* real_ns(const std::string& name) const { return find(real_ns_, name); }

private:
    static void keep_least(std::map<std::string, double>& m, const std::string& name, double ns) {
        auto [it, fresh] = m.emplace(name, ns);
        if (!fresh && ns < it->second) it->second = ns;
    }
    static const double* find(const std::map<std::string, double>& m, const std::string& name) {
        auto it = m.find(name);
        return it == m.end() ? nullptr : &it->second;
    }
    std::unique_ptr<benchmark::BenchmarkReporter> display_;
    std::map<std::string, double> cpu_ns_, real_ns_;
};

// ---- Single-step tails ------------------------------------------------------

struct Tail {
    double p50, p99, p999;
};

Tail percentiles(std::vector<double>& ns) {
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) { return ns[std::min(ns.size() - 1, size_t(q * double(ns.size())))]; };
    return Tail{at(0.50), at(0.99), at(0.999)};
}

// Times `steps` single steps one by one, each between two clock readings;
// the readings' own cost (the tail of an empty interval) is measured alike.
template <class Step>
Tail single_step_tail(size_t steps, Step step) {
    std::vector<double> ns(steps);
    for (size_t i = 0; i < steps; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step(i);
        const auto t1 = std::chrono::steady_clock::now();
        ns[i] = double(std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count());
    }
    return percentiles(ns);
}

void print_tails(FILE* out, size_t steps) {
    const std::vector<GuideWInputs>& pool = random_stream();
    const std::vector<GuideWInputs>& flight = one_flight();
    const Tail clock = single_step_tail(steps, [](size_t) {});
    restart();
    const Tail random = single_step_tail(steps, [&](size_t i) {
        GuideW_U = pool[i & (kPoolSize - 1)];
        GuideW_step();
    });
    restart();
    const Tail smooth = single_step_tail(steps, [&](size_t i) {
        GuideW_U = flight[i & (kFlightSteps - 1)];
        GuideW_step();
    });
    std::fprintf(out, "single steps (ns, %zu each, clock readings included)  p50    p99  p99.9\n",
                 steps);
    const struct {
        const char* label;
        Tail t;
    } rows[] = {
        {"(a) random stream", random}, {"(b) smooth flight", smooth}, {"    clock alone", clock}};
    for (const auto& r : rows) {
        std::fprintf(out, "  %-52s %5.0f  %5.0f  %5.0f\n", r.label, r.t.p50, r.t.p99, r.t.p999);
    }
}

// Runs every benchmark 5 times, interleaved at random, unless the command
// line says otherwise.
std::vector<char*> with_default_repetitions(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    bool chosen = false;
    for (int i = 1; i < argc; ++i) chosen |= std::strstr(argv[i], "repetitions") != nullptr;
    if (!chosen) {
        args.insert(args.begin() + 1, interleave);
        args.insert(args.begin() + 1, repetitions);
    }
    args.push_back(nullptr);
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = with_default_repetitions(argc, argv);
    int count = int(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
    // Machine-readable output stays clean: the summary then goes to stderr.
    const bool console = dynamic_cast<benchmark::ConsoleReporter*>(display) != nullptr;
    FILE* out = console ? stdout : stderr;
    RecordingReporter reporter(display);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Each step and its floor run on one thread: CPU time, which other
    // processes on the machine disturb less than wall-clock time. The fleet
    // figures are per aircraft-step.
    struct Ratio {
        const char* label;
        const char* step;
        const char* floor;
        double per;
    };
    const Ratio ratios[] = {{"(a) random stream", "BM_RandomStream", "BM_RandomStreamFloor", 1.0},
                            {"(b) smooth flight", "BM_SmoothFlight", "BM_SmoothFlightFloor", 1.0},
                            {"(c) fleet of 1000, batch, 1 thread",
                             "BM_FleetBatch/threads:1/real_time", "BM_FleetFloor", double(kFleet)}};
    bool any = false;
    for (const Ratio& r : ratios) {
        const double* step = reporter.cpu_ns(r.step);
        const double* floor = reporter.cpu_ns(r.floor);
        if (step == nullptr || floor == nullptr) continue;
        if (!any) std::fprintf(out, "\nstep / floor (best of the runs, CPU time per step)\n");
        any = true;
        std::fprintf(out, "  %-36s %.2f  (%.1f ns / %.1f ns)\n", r.label, *step / *floor,
                     *step / r.per, *floor / r.per);
    }
    // Two threads against one: wall-clock time of the whole batch.
    const double* one = reporter.real_ns("BM_FleetBatch/threads:1/real_time");
    const double* two = reporter.real_ns("BM_FleetBatch/threads:2/real_time");
    if (one != nullptr && two != nullptr) {
        std::fprintf(out,
                     "  fleet batch, 2 threads vs 1: %.2fx  (%.1f ns / %.1f ns per aircraft-step, "
                     "wall clock)\n",
                     *one / *two, *one / double(kFleet), *two / double(kFleet));
    }
    if (any) {
        std::fprintf(out, "\n");
        print_tails(out, 1000000);
    }
    return 0;
}
