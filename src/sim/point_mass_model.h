// The point-mass aircraft (aircraft.h) behind the aircraft-model interface:
// the same arithmetic in the same order, so its flights are unchanged to
// the last bit.
#ifndef SIM_POINT_MASS_MODEL_H
#define SIM_POINT_MASS_MODEL_H

#include "aircraft.h"
#include "aircraft_model.h"

class PointMassModel final : public AircraftModel {
public:
    explicit PointMassModel(const AircraftConfig& cfg = AircraftConfig{});

    const std::string& name() const override { return name_; }
    void reset(const InitialFlight& init) override { ac_ = make_aircraft(cfg_, init, wind_); }
    void sense(GuideWInputs& u) const override { ::sense(ac_, u); }
    void step(const GuideWOutputs& cmd) override { fly_step(cfg_, cmd, ac_, wind_); }
    // The steady wind only: a point mass has no extent for turbulence to
    // act on, no rates for it to disturb.
    std::string set_air_mass(const AirMass& air) override {
        wind_ = air.wind;
        return beyond_steady_wind(air);
    }
    const Aircraft& state() const override { return ac_; }
    double trim_throttle() const override { return ac_.thrust_frac; }
    AircraftLimits limits() const override {
        AircraftLimits l;
        l.max_roll_rate_dps = cfg_.max_roll_rate_dps;
        return l;
    }

private:
    std::string name_ = "point_mass";
    AircraftConfig cfg_;
    std::vector<WindLayer> wind_;
    Aircraft ac_;
};

#endif
