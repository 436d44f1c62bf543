// What one step of the law costs, in the situations a host meets, and how
// that compares with the maths-library calls a step cannot do without.
//
// The floor benchmarks make the calls of one guided step (forward pursuit or
// a rear manoeuvre, as in most of the mixed stream), on arguments formed
// from the same input records, and nothing else. The program ends with the
// ratio of each step to its floor, both measured in this run, e.g.
//   mixed step / floor = 1.86 (350.3 ns / 188.8 ns)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GuideW.h"
#include "GuideW_instance.h"

namespace {

constexpr double kRadPerDeg = 0.017453292519943295;
constexpr size_t kPoolSize = 4096;  // a power of two: the index wraps by a mask

struct Rng {
    uint64_t s;
    double uniform(double lo, double hi) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return lo + (hi - lo) * (double(s >> 11) * 0x1.0p-53);
    }
};

// The worked example of the step: level at 200 m/s and 3000 m, command 30 deg
// right and 5 deg up at 220 m/s, mode 1.
GuideWInputs typical_inputs() {
    GuideWInputs u{};
    u.speed_cmd = 220.0;
    u.elev_cmd = 5.0;
    u.azim_cmd = 30.0;
    u.mode = 1.0;
    u.tas = 200.0;
    u.vel_north = 200.0;
    u.altitude = 3000.0;
    u.aux_in = 7.0;
    return u;
}

// An aircraft in ordinary flight (banked up to 90 deg, now and then beyond),
// its velocity along its heading and pitch, a command anywhere around it
// (half of them behind), mostly mode 1 with no external weight.
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

const std::vector<GuideWInputs>& input_pool() {
    static const std::vector<GuideWInputs> pool = [] {
        Rng r{12345};
        std::vector<GuideWInputs> p(kPoolSize);
        for (GuideWInputs& u : p) u = realistic_inputs(r);
        return p;
    }();
    return pool;
}

// The static model, freshly initialised, default parameters.
void restart() {
    GuideW_initialize();
    GuideW_default_params(&GuideW_P);
}

void BM_ForwardTargetStep(benchmark::State& state) {
    restart();
    GuideW_U = typical_inputs();
    for (auto _ : state) GuideW_step();
}

// Behind and diving: a steep dive command gives the split manoeuvre (roll,
// then pull through); a shallow one, almost straight behind, a rear turn
// with its direction latched.
void BM_RearManoeuvreStep(benchmark::State& state, double azim_cmd, double elev_cmd) {
    restart();
    GuideW_U = typical_inputs();
    GuideW_U.azim_cmd = azim_cmd;
    GuideW_U.elev_cmd = elev_cmd;
    GuideW_U.roll = 30.0;
    for (auto _ : state) GuideW_step();
}

void BM_GuidanceOffStep(benchmark::State& state) {
    restart();
    GuideW_P.guide_ref = 0.0;
    GuideW_U = typical_inputs();
    for (auto _ : state) GuideW_step();
}

// Varied situations one after another, as a batch of many aircraft meets
// them: a new input record every step, the states carried on. Neither the
// step's branches nor the paths inside the maths library repeat.
void BM_MixedStep(benchmark::State& state) {
    restart();
    const std::vector<GuideWInputs>& pool = input_pool();
    size_t i = 0;
    for (auto _ : state) {
        GuideW_U = pool[i++ & (kPoolSize - 1)];
        GuideW_step();
    }
}

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
// compiler joins them into one sincos call): the least the step could pay.
inline void floor_calls(const GuideWInputs& u) {
    for (double a : {u.pitch, u.roll, u.yaw, u.roll + 180.0, u.yaw + 180.0}) {
        benchmark::DoNotOptimize(std::floor(a / 360.0));
    }
    const double rho = std::exp((-9.80665 / (287.05 * (288.15 - 0.0065 * u.altitude))) * u.altitude);
    const double sigma_root = std::sqrt(rho);
    benchmark::DoNotOptimize(sigma_root);
    benchmark::DoNotOptimize(
        std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east + u.vel_up * u.vel_up));

    const double v_h = std::sqrt(u.vel_north * u.vel_north + u.vel_east * u.vel_east);
    const double v = std::sqrt(v_h * v_h + u.vel_up * u.vel_up);
    const double gamma = std::asin(u.vel_up / v);
    const double chi = 1.5707963267948966 - std::atan(u.vel_north / u.vel_east);
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

    const double n_h = (az - chi) * v_h / (9.81 * 3.0 / sigma_root);
    const double n_v = cg + (el - gamma) * v / (9.81 * 1.6 / sigma_root);
    benchmark::DoNotOptimize(std::sqrt(n_h * n_h + n_v * n_v));
    benchmark::DoNotOptimize(std::atan(n_h / cg));
}

void BM_Floor(benchmark::State& state) {
    const std::vector<GuideWInputs>& pool = input_pool();
    size_t i = 0;
    for (auto _ : state) floor_calls(pool[i++ & (kPoolSize - 1)]);
}

// The same calls on the worked example's inputs, again and again.
void BM_FloorForwardTarget(benchmark::State& state) {
    GuideWInputs u = typical_inputs();
    for (auto _ : state) {
        benchmark::DoNotOptimize(u);
        floor_calls(u);
    }
}

// Instances stepped as a batch, 1000 aircraft per call, on 1 or 2 threads;
// each call takes the next window of the input pool. ns_per_aircraft is
// wall-clock time per aircraft-step.
void BM_BatchStep(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    const unsigned threads = static_cast<unsigned>(state.range(1));
    std::vector<GuideWInstance*> models(count);
    for (GuideWInstance*& m : models) m = GuideW_instance_create();
    const double* inputs = &input_pool()[0].speed_cmd;
    std::vector<double> outputs(count * 4);
    size_t window = 0;
    std::chrono::steady_clock::duration elapsed{};
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        GuideW_step_batch(models.data(), count, inputs + 19 * window, outputs.data(), threads);
        elapsed += std::chrono::steady_clock::now() - start;
        window = (window + 17) % (kPoolSize - count);
    }
    state.counters["ns_per_aircraft"] =
        double(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
        (double(state.iterations()) * double(count));
    for (GuideWInstance* m : models) GuideW_instance_destroy(m);
}

void BM_Look2(benchmark::State& state) {
    const std::vector<GuideWInputs>& pool = input_pool();
    const GuideWParams& p = GuideW_P;
    size_t i = 0;
    for (auto _ : state) {
        const GuideWInputs& u = pool[i++ & (kPoolSize - 1)];
        benchmark::DoNotOptimize(look2_binlcapw(u.altitude, u.tas, p.thr_alt_bp, p.thr_spd_bp,
                                                p.thr_table, p.thr_max_index, 11));
    }
}

}  // namespace

BENCHMARK(BM_ForwardTargetStep);
BENCHMARK_CAPTURE(BM_RearManoeuvreStep, split, 120.0, -60.0);
BENCHMARK_CAPTURE(BM_RearManoeuvreStep, turn, 178.0, -10.0);
BENCHMARK(BM_GuidanceOffStep);
BENCHMARK(BM_MixedStep);
BENCHMARK(BM_Floor);
BENCHMARK(BM_FloorForwardTarget);
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
// keeps the least CPU time per iteration, in ns, of each benchmark.
class RecordingReporter : public benchmark::BenchmarkReporter {
public:
    explicit RecordingReporter(benchmark::BenchmarkReporter* display) : display_(display) {}
    bool ReportContext(const Context& context) override {
        return display_->ReportContext(context);
    }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // With --benchmark_report_aggregates_only only the aggregates
            // come here: then the median stands for the repetitions.
            const bool usable = run.run_type == Run::RT_Iteration ||
                                run.aggregate_name == "median";
            if (!usable || run.error_occurred) continue;
            const double ns = run.GetAdjustedCPUTime() * ns_per_unit(run.time_unit);
            auto [it, fresh] = best_cpu_ns_.emplace(run.run_name.str(), ns);
            if (!fresh && ns < it->second) it->second = ns;
        }
        display_->ReportRuns(runs);
    }
    void Finalize() override { display_->Finalize(); }

    const double* best_cpu_ns(const std::string& name) const {
        auto it = best_cpu_ns_.find(name);
        return it == best_cpu_ns_.end() ? nullptr : &it->second;
    }

private:
    std::unique_ptr<benchmark::BenchmarkReporter> display_;
    std::map<std::string, double> best_cpu_ns_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
    // Machine-readable output stays clean: the ratio then goes to stderr.
    const bool console = dynamic_cast<benchmark::ConsoleReporter*>(display) != nullptr;
    RecordingReporter reporter(display);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Both sides of each ratio run on one thread: CPU time, which other
    // processes on the machine disturb less than wall-clock time.
    struct Ratio {
        const char* label;
        const char* step;
        const char* floor;
    };
    const Ratio ratios[] = {{"mixed step", "BM_MixedStep", "BM_Floor"},
                            {"forward-target step", "BM_ForwardTargetStep",
                             "BM_FloorForwardTarget"}};
    for (const Ratio& r : ratios) {
        const double* step = reporter.best_cpu_ns(r.step);
        const double* floor = reporter.best_cpu_ns(r.floor);
        if (step == nullptr || floor == nullptr) continue;
        std::fprintf(console ? stdout : stderr, "%s / floor = %.2f (%.1f ns / %.1f ns)\n",
                     r.label, *step / *floor, *step, *floor);
    }
    return 0;
}
