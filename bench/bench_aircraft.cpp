// What flying a real aircraft costs: the F-16 through every built-in
// scenario in still air (the law, our control mapping, the checks and a recording of
// every step) against JSBSim alone flying the same flights: reset at the
// same starts and stepped under the very controls each flight gave it
// (recorded once, checked to end where the flight ended, to the last bit),
// so that both do the same work inside JSBSim and the difference is ours.
// The point mass flies the same scenarios in the same run. A built-in in
// wind or turbulence is left out: its air moves JSBSim's aircraft by what
// the flight sets each step, which a replay of the controls alone lacks;
// so is the one-against-one (bench_engagement).
//
//   bench_aircraft [REPEATS]        (default 7) times both, interleaved
//   bench_aircraft --instructions   one flight and one replay of each,
//                                   for bench/aircraft_overhead.py to
//                                   count under callgrind
//
// Times are the CPU time of the one thread: a busy machine slows them less
// than wall time, but it still evicts caches and steals cycles, so each
// flight and its replay are timed back to back, several times, in
// alternating order, and the spread is printed beside the figures.
// Instruction counts (callgrind) do not depend on the load at all.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_HAVE_CALLGRIND 1
#else
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name)
#define BENCH_HAVE_CALLGRIND 0
#endif

#include "guide_library.h"
#include "law_constants.h"
#include "sim/aircraft_catalog.h"
#include "sim/aircraft_scenarios.h"
#include "sim/control_gains.h"
#include "sim/controls_recorder.h"
#include "sim/flight.h"
#include "sim/jsbsim_model.h"
#include "sim/point_mass_model.h"

namespace {

constexpr int kDefaultRepeats = 7;

double thread_cpu_s() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double wall_s() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The stretch of a flight that is compared: JSBSim's steps and whatever
// runs between them. Timed on the thread's CPU clock; under callgrind
// (started with --collect-atstart=no) only this stretch is counted.
class Stretch {
public:
    void start() {
        cpu0_ = thread_cpu_s();
        CALLGRIND_TOGGLE_COLLECT;
    }
    double stop() {
        CALLGRIND_TOGGLE_COLLECT;
        return thread_cpu_s() - cpu0_;
    }

private:
    double cpu0_ = 0.0;
};

// What a host records of each step (guide-sim writes the same to its CSV).
struct Row {
    double t, lat_cmd, nz_cmd, throttle_cmd, x, y, z, load;
};
std::vector<Row> rows;

void record_row(const FlightSample& s) {
    rows.push_back({s.t_s, s.outputs->lat_cmd, s.outputs->nz_cmd, s.outputs->throttle_cmd,
                    s.aircraft->position.x, s.aircraft->position.y, s.aircraft->position.z,
                    s.aircraft->load_g});
}

// One built-in on the F-16: the controls its steps gave JSBSim, where it
// ended, and the CPU seconds of every try of both variants.
struct Flight {
    Scenario sc;
    std::vector<Controls> controls;
    Aircraft end;
    double flown_s = 0.0;
    std::vector<double> full_s, alone_s;  // the compared stretch, per repeat
};

struct Totals {
    double cpu_s = 0.0, wall_s = 0.0, flown_s = 0.0;
    long flights = 0;
};

bool same_bits(const Aircraft& a, const Aircraft& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

[[noreturn]] void differs(const Flight& f, const char* what) {
    std::fprintf(stderr,
                 "bench_aircraft: %s of %s does not end where its recorded flight ended: the two "
                 "variants would not do the same work\n",
                 what, f.sc.name.c_str());
    std::exit(1);
}

// The built-ins flown in still air, in their order, but for a
// one-against-one: a second aircraft on a law of its own is not one
// aircraft's flight, and bench_engagement times it.
const std::vector<Scenario>& still_air_builtins() {
    static const std::vector<Scenario> still = [] {
        std::vector<Scenario> list;
        for (const Scenario& sc : builtin_scenarios()) {
            const AirMass& air = sc.atmosphere;
            const bool two_aircraft = sc.target && sc.target->opponent;
            if (air.wind.empty() && !air.turbulent() && !air.gust && !two_aircraft)
                list.push_back(sc);
        }
        return list;
    }();
    return still;
}

// Flies every built-in once on the F-16 through the recorder, and checks
// that JSBSim alone, fed the record, ends each to the last bit.
std::vector<Flight> record_flights(const GuideLibrary& lib, JsbsimModel& f16) {
    std::vector<Flight> flights;
    ControlsRecorder recorder(f16);
    for (const Scenario& given : still_air_builtins()) {
        Flight f;
        f.sc = suited_builtin(given, "f16");
        use_aircraft_trim_table(f.sc, "f16");
        fly_scenario(lib, f.sc, recorder, nullptr);
        f.controls = recorder.record();
        f.end = f16.state();
        f.flown_s = static_cast<double>(f.controls.size()) * kStep_s;
        replay_controls(f16, f.sc.initial, f.controls);
        if (!same_bits(f16.state(), f.end)) differs(f, "the replay");
        flights.push_back(std::move(f));
    }
    return flights;
}

// The whole flight: the law, our control mapping and state reading, the
// checks, a recording of every step. The compared stretch starts at the
// first step's record (after the reset, which both variants share).
__attribute__((noinline)) double fly_full(const GuideLibrary& lib, JsbsimModel& f16,
                                          const Flight& f, Totals& total) {
    Stretch stretch;
    bool started = false;
    rows.clear();
    const double c0 = thread_cpu_s(), w0 = wall_s();
    fly_scenario(lib, f.sc, f16, [&](const FlightSample& s) {
        if (!started) {
            started = true;
            stretch.start();
        }
        record_row(s);
    });
    const double stepping = stretch.stop();
    total.cpu_s += thread_cpu_s() - c0;
    total.wall_s += wall_s() - w0;
    total.flown_s += f.flown_s;
    ++total.flights;
    if (!same_bits(f16.state(), f.end)) differs(f, "a flight");
    return stepping;
}

// JSBSim alone: the same reset, then its steps under the recorded controls.
__attribute__((noinline)) double fly_alone(JsbsimModel& f16, const Flight& f, Totals& total) {
    Stretch stretch;
    const double c0 = thread_cpu_s(), w0 = wall_s();
    f16.reset(f.sc.initial);
    stretch.start();
    for (const Controls& c : f.controls) JsbsimReplay::step(f16, c);
    const double stepping = stretch.stop();
    total.cpu_s += thread_cpu_s() - c0;
    total.wall_s += wall_s() - w0;
    total.flown_s += f.flown_s;
    ++total.flights;
    JsbsimReplay::read_back_state(f16);
    if (!same_bits(f16.state(), f.end)) differs(f, "a replay");
    return stepping;
}

Totals fly_point_mass(const GuideLibrary& lib, int repeats) {
    PointMassModel point_mass;
    Totals t;
    const double c0 = thread_cpu_s(), w0 = wall_s();
    for (int r = 0; r < repeats; ++r) {
        for (const Scenario& given : still_air_builtins()) {
            Scenario sc = suited_builtin(given, "point_mass");
            use_aircraft_trim_table(sc, "point_mass");
            rows.clear();
            fly_scenario(lib, sc, point_mass, record_row);
            t.flown_s += static_cast<double>(rows.size()) * kStep_s;
            ++t.flights;
        }
    }
    t.cpu_s = thread_cpu_s() - c0;
    t.wall_s = wall_s() - w0;
    return t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double percent(double ours_and_jsbsim, double jsbsim) {
    return 100.0 * (ours_and_jsbsim / jsbsim - 1.0);
}

void report(const char* what, const Totals& t) {
    std::printf("%-44s %3ld flights %7.3f s cpu (%6.3f s wall) %7.1f flights/s %6.0f x real time\n",
                what, t.flights, t.cpu_s, t.wall_s, t.flights / t.cpu_s, t.flown_s / t.cpu_s);
}

void print_load() {
    double avg[3] = {0, 0, 0};
    if (getloadavg(avg, 3) > 0)
        std::printf("load average %.2f %.2f %.2f (2 cores here is full)\n", avg[0], avg[1], avg[2]);
}

// Ours around JSBSim, flight by flight and summed, with the spread of the
// tries. A flight and its replay run back to back, so their ratio is the
// steadier figure: a busy spell slows both or, when it falls on one, shows
// in that try's ratio, which the median of the tries passes over.
void report_overhead(const std::vector<Flight>& flights, int repeats) {
    double med_full = 0.0, med_alone = 0.0, min_full = 0.0, min_alone = 0.0, weighted = 0.0;
    std::vector<double> repeat_full(repeats, 0.0), repeat_alone(repeats, 0.0);
    std::printf(
        "\nflight by flight (the compared stretch, median of %d tries; the tries' own\n"
        "ratios: median, and lowest .. highest):\n",
        repeats);
    for (const Flight& f : flights) {
        std::vector<double> ratio;
        for (int r = 0; r < repeats; ++r) {
            ratio.push_back(percent(f.full_s[r], f.alone_s[r]));
            repeat_full[r] += f.full_s[r];
            repeat_alone[r] += f.alone_s[r];
        }
        const double mf = median(f.full_s), ma = median(f.alone_s);
        med_full += mf;
        med_alone += ma;
        weighted += ma * median(ratio);
        min_full += *std::min_element(f.full_s.begin(), f.full_s.end());
        min_alone += *std::min_element(f.alone_s.begin(), f.alone_s.end());
        std::printf(
            "  %-19s %5zu steps  everything %6.1f ms  JSBSim alone %6.1f ms  %+5.1f %% "
            "(%+5.1f .. %+5.1f)\n",
            f.sc.name.c_str(), f.controls.size(), 1e3 * mf, 1e3 * ma, median(ratio),
            *std::min_element(ratio.begin(), ratio.end()),
            *std::max_element(ratio.begin(), ratio.end()));
    }
    std::vector<double> per_repeat;
    for (int r = 0; r < repeats; ++r)
        per_repeat.push_back(percent(repeat_full[r], repeat_alone[r]));
    std::sort(per_repeat.begin(), per_repeat.end());
    std::printf(
        "\nours around JSBSim's stepping (law, control mapping, state reading, checks,\n"
        "recording; CPU time of the thread, resets left out of both):\n");
    std::printf("  each flight's median, weighted by its length   %+5.1f %%   (the figure)\n",
                weighted / med_alone);
    std::printf("  each repeat's flights summed, median           %+5.1f %%\n", median(per_repeat));
    std::printf("  each repeat's flights summed, sorted          ");
    for (double p : per_repeat) std::printf(" %+5.1f", p);
    std::printf(" %%\n");
    std::printf("  best of each flight's tries, summed            %+5.1f %%\n",
                percent(min_full, min_alone));
    std::printf("  median of each flight's tries, summed          %+5.1f %%\n",
                percent(med_full, med_alone));
}

int timed(const GuideLibrary& lib, int repeats) {
    const ControlEntry& g = *find_aircraft("f16");
    const std::filesystem::path root = jsbsim_root_dir();
    std::printf(
        "bench_aircraft: JSBSim at %.0f Hz (%d steps per law step), %d repeats of the %zu "
        "built-ins in still air\n",
        g.rate_hz, static_cast<int>(std::lround(g.rate_hz * kStep_s)), repeats,
        still_air_builtins().size());
    print_load();

    double load_wall[3] = {0, 0, 0};
    const double load_cpu0 = thread_cpu_s();
    for (double& l : load_wall) {
        const double w0 = wall_s();
        JsbsimModel m("f16", root.string(), (root / "aircraft").string(), g.folder, g);
        l = wall_s() - w0;
    }
    std::printf("loading the F-16: %.3f s cpu each (wall %.3f, %.3f, %.3f s)\n",
                (thread_cpu_s() - load_cpu0) / 3.0, load_wall[0], load_wall[1], load_wall[2]);

    JsbsimModel f16("f16", root.string(), (root / "aircraft").string(), g.folder, g);
    std::vector<Flight> flights = record_flights(lib, f16);
    long steps = 0;
    for (const Flight& f : flights) steps += static_cast<long>(f.controls.size());
    std::printf(
        "recorded the controls of %zu flights (%ld steps); JSBSim alone under them ends "
        "every one where it ended, to the last bit\n",
        flights.size(), steps);

    Totals full, alone;
    double alone_stepping = 0.0;
    for (int r = 0; r < repeats; ++r) {
        for (size_t i = 0; i < flights.size(); ++i) {
            Flight& f = flights[i];
            // Which goes first alternates: neither always finds the caches
            // as the other left them.
            if ((r + i) % 2 == 0) {
                f.full_s.push_back(fly_full(lib, f16, f, full));
                f.alone_s.push_back(fly_alone(f16, f, alone));
            } else {
                f.alone_s.push_back(fly_alone(f16, f, alone));
                f.full_s.push_back(fly_full(lib, f16, f, full));
            }
            alone_stepping += f.alone_s.back();
        }
    }
    const Totals pm = fly_point_mass(lib, repeats);

    std::printf("\n");
    report("F-16, everything (law, controls, checks, rows)", full);
    report("F-16, JSBSim alone under the same controls", alone);
    report("point mass, everything", pm);
    std::printf("resetting (trimming) the F-16: %.2f ms cpu each, in both F-16 figures\n",
                1e3 * (alone.cpu_s - alone_stepping) / alone.flights);
    report_overhead(flights, repeats);
    print_load();
    return 0;
}

// One flight and one replay of each built-in, each kind in a dump of its
// own; the recording before them is not counted.
int instructions(const GuideLibrary& lib) {
    if (!BENCH_HAVE_CALLGRIND) {
        std::fprintf(stderr,
                     "bench_aircraft: built without valgrind/callgrind.h: nothing to "
                     "count (install valgrind and rebuild)\n");
        return 3;
    }
    const ControlEntry& g = *find_aircraft("f16");
    const std::filesystem::path root = jsbsim_root_dir();
    JsbsimModel f16("f16", root.string(), (root / "aircraft").string(), g.folder, g);
    const std::vector<Flight> flights = record_flights(lib, f16);
    Totals full, alone;
    long steps = 0;
    for (const Flight& f : flights) {
        fly_full(lib, f16, f, full);
        steps += static_cast<long>(f.controls.size());
    }
    CALLGRIND_DUMP_STATS_AT("everything");
    for (const Flight& f : flights) fly_alone(f16, f, alone);
    CALLGRIND_DUMP_STATS_AT("JSBSim alone");
    std::printf("bench_aircraft: %zu flights, %ld steps, each flown and replayed once\n",
                flights.size(), steps);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string arg = argc > 1 ? argv[1] : "";
    if (arg == "-h" || arg == "--help") {
        std::printf(
            "usage: bench_aircraft [REPEATS]   time the F-16 against JSBSim alone "
            "(default %d repeats)\n"
            "       bench_aircraft --instructions   one try of each, for callgrind "
            "(bench/aircraft_overhead.py)\n",
            kDefaultRepeats);
        return 0;
    }
    const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    lib.initialize();
    if (arg == "--instructions") return instructions(lib);
    const int repeats = arg.empty() ? kDefaultRepeats : std::atoi(arg.c_str());
    if (repeats < 1) {
        std::fprintf(stderr, "bench_aircraft: REPEATS must be a whole number above 0, not '%s'\n",
                     arg.c_str());
        return 2;
    }
    return timed(lib, repeats);
}
