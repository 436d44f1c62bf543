// How much faster than real time the closed-loop simulator flies: the law
// through the loaded library plus the point-mass aircraft, no recording.
// The counter x_realtime is simulated seconds per wall-clock second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "loaded_library.h"
#include "sim/flight.h"

namespace {

void fly(benchmark::State& state, const std::vector<Scenario>& scenarios) {
    double simulated_s = 0.0;
    for (const Scenario& sc : scenarios) simulated_s += sc.duration_s;
    for (auto _ : state) {
        for (const Scenario& sc : scenarios) {
            FlightSummary sum = fly_scenario(loaded_library(), sc, AircraftConfig{}, nullptr);
            benchmark::DoNotOptimize(sum);
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(simulated_s, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_TypicalFlight(benchmark::State& state) { fly(state, {builtin_scenarios().front()}); }

// Every built-in one aircraft flies (a one-against-one is bench_engagement's).
void BM_AllBuiltinScenarios(benchmark::State& state) {
    std::vector<Scenario> single;
    for (const Scenario& sc : builtin_scenarios()) {
        if (!(sc.target && sc.target->opponent)) single.push_back(sc);
    }
    fly(state, single);
}

}  // namespace

BENCHMARK(BM_TypicalFlight)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AllBuiltinScenarios)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
