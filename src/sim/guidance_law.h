// The law as the simulator flies it: start it, step it on the inputs, read
// its commands, its parameters and its states. Two bindings stand behind
// this: the module-level model of a libGuide.so loaded as any host loads it
// (guide-sim, the tests), and a GuideW instance of its own (libguidesim,
// instance_flight.h). The law's arithmetic is the same code either way, so
// a scenario flies to the same bits through both.
#ifndef SIM_GUIDANCE_LAW_H
#define SIM_GUIDANCE_LAW_H

#include "GuideW.h"
#include "guide_fields.h"
#include "guide_library.h"

class GuidanceLaw {
public:
    virtual ~GuidanceLaw() = default;

    // Back to the law's start: states cleared, parameters at their defaults.
    virtual void initialize() = 0;

    // One step of the law on u; its commands into y.
    virtual void step(const GuideWInputs& u, GuideWOutputs& y) = 0;

    // The parameters the next steps fly with (writable between steps).
    virtual GuideWParams& params() = 0;

    // The law's states after the last step.
    virtual const GuideWStates& states() const = 0;
};

// The module-level model of a loaded libGuide.so, stepped through its
// exported entry points.
class LoadedLaw final : public GuidanceLaw {
public:
    explicit LoadedLaw(const GuideLibrary& lib) : lib_(lib) {}

    void initialize() override { lib_.initialize(); }
    void step(const GuideWInputs& u, GuideWOutputs& y) override {
        lib_.one_step(input_values(u));
        lib_.get_output(&y.lat_cmd);
    }
    GuideWParams& params() override { return *lib_.params; }
    const GuideWStates& states() const override { return *lib_.states; }

private:
    const GuideLibrary& lib_;
};

// A GuideW instance of a loaded libGuide.so (the second law of an
// engagement beside the module-level one). Throws std::runtime_error when
// the library has no instances or one cannot be made.
class LoadedInstanceLaw final : public GuidanceLaw {
public:
    explicit LoadedInstanceLaw(const GuideInstanceCalls& calls);
    ~LoadedInstanceLaw() override { calls_.destroy(instance_); }
    LoadedInstanceLaw(const LoadedInstanceLaw&) = delete;
    LoadedInstanceLaw& operator=(const LoadedInstanceLaw&) = delete;

    void initialize() override { calls_.initialize(instance_); }
    void step(const GuideWInputs& u, GuideWOutputs& y) override {
        calls_.one_step(instance_, input_values(u), nullptr);
        y = *calls_.outputs(instance_);
    }
    GuideWParams& params() override { return *calls_.params(instance_); }
    const GuideWStates& states() const override { return *calls_.states(instance_); }

private:
    const GuideInstanceCalls& calls_;
    GuideWInstance* instance_;
};

#endif
