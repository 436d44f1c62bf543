#include "point_mass_model.h"

#include "flight.h"

PointMassModel::PointMassModel(const AircraftConfig& cfg) : cfg_(cfg) {}

FlightSummary fly_scenario(const GuideLibrary& lib, const Scenario& sc, const AircraftConfig& cfg,
                           const SampleSink& sink) {
    PointMassModel point_mass(cfg);
    return fly_scenario(lib, sc, point_mass, sink);
}
