// Flying a scenario with the law in a GuideW instance of its own, instead of
// the library's module-level model: a flight then shares nothing with any
// other flight of the process, on this thread or another.
#ifndef SIM_INSTANCE_FLIGHT_H
#define SIM_INSTANCE_FLIGHT_H

#include "flight.h"

// Flies sc as fly_scenario does, on a new instance with the build-time
// parameter defaults. The law's arithmetic is the same code either way, so
// the figures equal those of the module-level model bit for bit.
FlightSummary fly_scenario_in_instance(const Scenario& sc, const AircraftConfig& cfg,
                                       const SampleSink& sink);
// An engagement against a second aircraft flies it on opponent, its law in
// an instance of its own.
FlightSummary fly_scenario_in_instance(const Scenario& sc, AircraftModel& aircraft,
                                       const SampleSink& sink, AircraftModel* opponent = nullptr);

#endif
