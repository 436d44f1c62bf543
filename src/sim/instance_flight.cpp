#include "instance_flight.h"

#include <algorithm>
#include <memory>
#include <new>

#include "GuideW_instance.h"
#include "point_mass_model.h"

namespace {

// fly_scenario steps the law through plain function pointers, as a host of
// the module-level model does. Here they act on the instance this thread is
// flying; a thread flies one flight at a time.
thread_local GuideWInstance* t_flying = nullptr;

void instance_initialize() { GuideW_instance_initialize(t_flying); }
void instance_step() { GuideW_instance_step(t_flying); }
void instance_one_step(const double* inputs) {
    GuideW_instance_one_step(t_flying, inputs, nullptr);
}
void nothing() {}

void instance_get_output(double* outputs) {
    const GuideWOutputs* y = GuideW_instance_outputs(t_flying);
    outputs[0] = y->lat_cmd;
    outputs[1] = y->nz_cmd;
    outputs[2] = y->throttle_cmd;
    outputs[3] = y->aux_out;
}

struct InstanceDeleter {
    void operator()(GuideWInstance* m) const { GuideW_instance_destroy(m); }
};

}  // namespace

FlightSummary fly_scenario_in_instance(const Scenario& sc, const AircraftConfig& cfg,
                                       const SampleSink& sink) {
    PointMassModel point_mass(cfg);
    return fly_scenario_in_instance(sc, point_mass, sink);
}

FlightSummary fly_scenario_in_instance(const Scenario& sc, AircraftModel& aircraft,
                                       const SampleSink& sink) {
    const std::unique_ptr<GuideWInstance, InstanceDeleter> law(GuideW_instance_create());
    if (!law) throw std::bad_alloc();

    GuideLibrary lib;
    lib.initialize = instance_initialize;
    lib.step = instance_step;
    lib.terminate = nothing;
    lib.one_step = instance_one_step;
    lib.get_output = instance_get_output;
    lib.guide_exit = nothing;
    lib.inputs = GuideW_instance_inputs(law.get());
    lib.outputs = GuideW_instance_outputs(law.get());
    lib.params = GuideW_instance_params(law.get());
    lib.states = GuideW_instance_states(law.get());

    GuideWInstance* const outer = t_flying;
    t_flying = law.get();
    struct Restore {
        GuideWInstance* outer;
        ~Restore() { t_flying = outer; }
    } restore{outer};
    return fly_scenario(lib, sc, aircraft, sink);
}
