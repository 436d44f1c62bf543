// What flying a real aircraft costs: the F-16 through every built-in
// scenario (the law, our control mapping, the checks and a recording of
// every step), against JSBSim stepping the same aircraft alone for the same
// number of steps; the point mass through the same scenarios in the same
// run; and what loading and resetting (trimming) the F-16 cost. The
// F-16 comparison is given twice: as totals, and flight by flight as the
// best of the repeats with both variants interleaved (steadier on a busy
// machine).
//
//   bench_aircraft [REPEATS]      (default 3)
//
// Times are the process's CPU time (one core: the program has one thread),
// so a busy machine slows the figures less than wall time; the wall time
// and the load average are printed beside them.
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "guide_library.h"
#include "sim/aircraft_catalog.h"
#include "sim/aircraft_scenarios.h"
#include "sim/control_gains.h"
#include "sim/flight.h"
#include "sim/jsbsim_model.h"
#include "law_constants.h"
#include "sim/point_mass_model.h"

namespace {

double cpu_s() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double wall_s() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// What a host records of each step (guide-sim writes the same to its CSV).
struct Row {
    double t, lat_cmd, nz_cmd, throttle_cmd, x, y, z, load;
};

struct Totals {
    double cpu_s = 0.0, wall_s = 0.0, flown_s = 0.0;
    long flights = 0, steps = 0;
};

std::vector<Row> rows;

Totals fly_all(const GuideLibrary& lib, AircraftModel& aircraft, const std::string& name,
               int repeats) {
    Totals t;
    const double c0 = cpu_s(), w0 = wall_s();
    for (int r = 0; r < repeats; ++r) {
        for (const Scenario& given : builtin_scenarios()) {
            Scenario sc = suited_builtin(given, name);
            use_aircraft_trim_table(sc, name);
            rows.clear();
            fly_scenario(lib, sc, aircraft, [&](const FlightSample& s) {
                rows.push_back({s.t_s, s.outputs->lat_cmd, s.outputs->nz_cmd,
                                s.outputs->throttle_cmd, s.aircraft->position.x,
                                s.aircraft->position.y, s.aircraft->position.z,
                                s.aircraft->load_g});
            });
            t.steps += static_cast<long>(rows.size());
            t.flown_s += sc.duration_s;
            ++t.flights;
        }
    }
    t.cpu_s = cpu_s() - c0;
    t.wall_s = wall_s() - w0;
    return t;
}

void report(const char* what, const Totals& t) {
    std::printf(
        "%-34s %4ld flights %8.3f s cpu (%6.3f s wall)  %7.1f flights/s  %7.0f x real time\n", what,
        t.flights, t.cpu_s, t.wall_s, t.flights / t.cpu_s, t.flown_s / t.cpu_s);
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 3;
    const GuideLibrary lib = load_guide_library(GUIDE_LIBRARY_PATH);
    lib.initialize();
    double load[3] = {0, 0, 0};
    std::printf(
        "bench_aircraft: JSBSim at %.0f Hz (%d steps per law step), %d repeats of the %zu "
        "built-ins\n",
        find_aircraft("f16")->rate_hz, static_cast<int>(find_aircraft("f16")->rate_hz / 100.0),
        repeats, builtin_scenarios().size());

    // Loading: three fresh loads of the F-16.
    const ControlGains& g = *find_aircraft("f16");
    const std::filesystem::path root = jsbsim_root_dir();
    double load_cpu = cpu_s();
    for (double& l : load) {
        JsbsimModel m("f16", root.string(), (root / "aircraft").string(), g.folder, g);
        l = m.load_seconds();
    }
    load_cpu = (cpu_s() - load_cpu) / 3.0;
    std::printf("loading the F-16: %.3f s cpu each (wall %.3f, %.3f, %.3f s)\n", load_cpu, load[0],
                load[1], load[2]);

    JsbsimModel f16("f16", root.string(), (root / "aircraft").string(), g.folder, g);
    // Resetting: trim at each built-in's start.
    Totals resets;
    double c0 = cpu_s();
    for (int r = 0; r < repeats; ++r) {
        for (const Scenario& sc : builtin_scenarios()) {
            f16.reset(suited_builtin(sc, "f16").initial);
            ++resets.flights;
        }
    }
    resets.cpu_s = cpu_s() - c0;
    std::printf("resetting (trimming) the F-16: %.2f ms cpu each\n",
                1e3 * resets.cpu_s / resets.flights);

    const Totals full = fly_all(lib, f16, "f16", repeats);
    // JSBSim alone: the same aircraft, reset at the same starts, the same
    // number of law steps, nothing of ours in between.
    Totals alone;
    const long steps_per_repeat = full.steps / repeats;
    (void)steps_per_repeat;
    double alone_reset_cpu = 0.0;
    c0 = cpu_s();
    const double w0 = wall_s();
    for (int r = 0; r < repeats; ++r) {
        for (const Scenario& given : builtin_scenarios()) {
            const Scenario sc = suited_builtin(given, "f16");
            const double rc = cpu_s();
            f16.reset(sc.initial);
            alone_reset_cpu += cpu_s() - rc;
            const long steps = std::lround(sc.duration_s / kStep_s) + 1;
            for (long k = 0; k < steps; ++k) f16.step_jsbsim_only();
            alone.flown_s += sc.duration_s;
            ++alone.flights;
        }
    }
    alone.cpu_s = cpu_s() - c0 - alone_reset_cpu;
    alone.wall_s = wall_s() - w0;
    PointMassModel point_mass;
    const Totals pm = fly_all(lib, point_mass, "point_mass", repeats);

    report("F-16, everything (law, controls, checks, recording)", full);
    Totals full_no_reset = full;
    full_no_reset.cpu_s -= resets.cpu_s;
    report("F-16, the same without the resets", full_no_reset);
    report("F-16, JSBSim stepping alone", alone);
    report("point mass, everything", pm);
    std::printf("ours around JSBSim: %+.1f %% of JSBSim's own stepping\n",
                100.0 * (full_no_reset.cpu_s - alone.cpu_s) / alone.cpu_s);
    // The same comparison flight by flight, interleaved and best of the
    // repeats: on a busy machine the totals above swing by several percent
    // between runs; the fastest of several tries of each flight is what the
    // code costs.
    double best_full = 0.0, best_alone = 0.0, best_reset = 0.0;
    for (const Scenario& given : builtin_scenarios()) {
        Scenario sc = suited_builtin(given, "f16");
        use_aircraft_trim_table(sc, "f16");
        const long steps = std::lround(sc.duration_s / kStep_s) + 1;
        double full_min = INFINITY, alone_min = INFINITY, reset_min = INFINITY;
        for (int r = 0; r < std::max(repeats, 3); ++r) {
            double c = cpu_s();
            fly_scenario(lib, sc, f16, [&](const FlightSample& s) {
                rows.push_back({s.t_s, s.outputs->lat_cmd, s.outputs->nz_cmd,
                                s.outputs->throttle_cmd, s.aircraft->position.x,
                                s.aircraft->position.y, s.aircraft->position.z,
                                s.aircraft->load_g});
            });
            full_min = std::min(full_min, cpu_s() - c);
            rows.clear();
            c = cpu_s();
            f16.reset(sc.initial);
            const double after_reset = cpu_s();
            for (long k = 0; k < steps; ++k) f16.step_jsbsim_only();
            alone_min = std::min(alone_min, cpu_s() - c);
            reset_min = std::min(reset_min, after_reset - c);
        }
        best_full += full_min;
        best_alone += alone_min;
        best_reset += reset_min;
    }
    std::printf(
        "best of %d per flight, interleaved: everything %.3f s, JSBSim alone %.3f s (resets %.3f s "
        "in both): "
        "ours %+.1f %% of JSBSim's own stepping\n",
        std::max(repeats, 3), best_full, best_alone, best_reset,
        100.0 * (best_full - best_alone) / (best_alone - best_reset));
    double avg[3] = {0, 0, 0};
    if (getloadavg(avg, 3) > 0)
        std::printf("load average: %.2f %.2f %.2f\n", avg[0], avg[1], avg[2]);
    return 0;
}
