// How much faster than real time a one-against-one flies: the built-in
// head_on_1v1 as guide-sim flies it, both aircraft on the law (ours through
// the loaded library's module-level model, the opponent through an instance
// of it), on two F-16s (--aircraft f16) and on two point masses, side by side
// in one run. Each iteration is a whole flight: the reset and trim of both
// aircraft at their start, every lock-step of both laws and both models, the
// checks and a recorded row per step (what a host keeps of the flight). The
// aircraft are loaded once, before the timing, as guide-sim loads each once
// per run.
//
// The counter x_realtime is simulated seconds per CPU second of the one
// thread (Google Benchmark's rate counters divide by CPU time): a busy
// machine slows it less than wall time would, but still evicts caches and
// steals cycles, so the repetitions' spread is printed beside the figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "sim/aircraft_catalog.h"
#include "sim/aircraft_scenarios.h"
#include "loaded_library.h"
#include "sim/flight.h"

namespace {

constexpr const char* kEngagement = "head_on_1v1";

// What a host records of each step for both aircraft (guide-sim writes
// these and more to its CSV).
struct Row {
    double t, x, y, z, target_x, target_y, target_z, range;
};

// The engagement as guide-sim flies it with --aircraft name: the built-in
// suited to the aircraft, its trim table first, the opponent in a model of
// its own.
struct OneAgainstOne {
    Scenario sc;
    AircraftModel* own = nullptr;
    AircraftModel* opponent = nullptr;
};

std::optional<OneAgainstOne> prepare(const std::string& aircraft) {
    for (const Scenario& given : builtin_scenarios()) {
        if (given.name != kEngagement) continue;
        OneAgainstOne e;
        e.own = &aircraft_model(aircraft);
        const std::string entry = control_entry_name(aircraft, {});
        e.sc = suited_builtin(given, entry);
        e.sc.aircraft = aircraft;
        use_aircraft_trim_table(e.sc, entry);
        e.opponent = &prepare_opponent(e.sc, false);
        return e;
    }
    return std::nullopt;
}

void BM_OneAgainstOne(benchmark::State& state, const std::string& aircraft) {
    std::optional<OneAgainstOne> e;
    try {
        e = prepare(aircraft);
    } catch (const std::exception& ex) {  // no JSBSim in this build, or no aircraft
        state.SkipWithError(ex.what());
        return;
    }
    if (!e) {
        state.SkipWithError("no built-in head_on_1v1");
        return;
    }
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(e->sc.duration_s / kStep_s) + 2);
    const auto record = [&rows](const FlightSample& s) {
        const EngagementSample& g = *s.engagement;
        rows.push_back({s.t_s, s.aircraft->position.x, s.aircraft->position.y,
                        s.aircraft->position.z, g.target.position.x, g.target.position.y,
                        g.target.position.z, g.geometry.range_m});
    };
    LoadedLaw law(loaded_library());
    LoadedInstanceLaw opponent_law(loaded_library().instances);
    Opponent opponent{opponent_law, *e->opponent};
    double flown_s = 0.0;
    for (auto _ : state) {
        rows.clear();
        const FlightSummary sum = fly_scenario(law, e->sc, *e->own, record, &opponent);
        if (!sum.passed()) {
            state.SkipWithError("the engagement failed a check: not the flight to time");
            return;
        }
        flown_s += rows.back().t;
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(flown_s, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(BM_OneAgainstOne, f16, std::string("f16"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OneAgainstOne, point_mass, std::string(kPointMassName))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
