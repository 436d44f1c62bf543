#include "instance_flight.h"

#include <memory>
#include <new>

#include "GuideW_instance.h"
#include "point_mass_model.h"

namespace {

// The law in a GuideW instance of its own: nothing shared with the
// module-level model or with another instance, on this thread or another.
class InstanceLaw final : public GuidanceLaw {
public:
    InstanceLaw() : instance_(GuideW_instance_create()) {
        if (instance_ == nullptr) throw std::bad_alloc();
    }
    ~InstanceLaw() override { GuideW_instance_destroy(instance_); }
    InstanceLaw(const InstanceLaw&) = delete;
    InstanceLaw& operator=(const InstanceLaw&) = delete;

    void initialize() override { GuideW_instance_initialize(instance_); }
    void step(const GuideWInputs& u, GuideWOutputs& y) override {
        GuideW_instance_one_step(instance_, input_values(u), nullptr);
        y = *GuideW_instance_outputs(instance_);
    }
    GuideWParams& params() override { return *GuideW_instance_params(instance_); }
    const GuideWStates& states() const override { return *GuideW_instance_states(instance_); }

private:
    GuideWInstance* instance_;
};

}  // namespace

FlightSummary fly_scenario_in_instance(const Scenario& sc, const AircraftConfig& cfg,
                                       const SampleSink& sink) {
    PointMassModel point_mass(cfg);
    return fly_scenario_in_instance(sc, point_mass, sink);
}

FlightSummary fly_scenario_in_instance(const Scenario& sc, AircraftModel& aircraft,
                                       const SampleSink& sink, AircraftModel* opponent) {
    InstanceLaw law;
    if (!opponent) return fly_scenario(law, sc, aircraft, sink);
    InstanceLaw second;
    Opponent o{second, *opponent};
    return fly_scenario(law, sc, aircraft, sink, &o);
}
