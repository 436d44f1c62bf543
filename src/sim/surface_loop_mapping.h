// The law's commands through an aircraft's surfaces, flown by our inner
// loop (inner_loop.h): the load factor on the elevator, the roll rate on
// the ailerons, the rudder against the sideslip. For every aircraft without
// a fly-by-wire system of its own (JSBSim's f15, T38 and c172p, and
// aircraft folders).
#ifndef SIM_SURFACE_LOOP_MAPPING_H
#define SIM_SURFACE_LOOP_MAPPING_H

#include "control_mapping.h"
#include "inner_loop.h"

class SurfaceLoopMapping final : public ControlMapping {
public:
    // limits: the structural loads and the angle of attack the aircraft's
    // data give.
    SurfaceLoopMapping(const InnerLoopGains& gains, const AircraftLimits& limits)
        : loop_(gains, limits) {}

    bool commands_rudder() const override { return true; }
    // The trim's elevator holds 1 g: the loop's steady pull starts there.
    TrimHandover reset(const TrimReading& trim) override;
    Controls step(const LawCommand& cmd, const MappingInput& in, double dt) override;

private:
    SurfaceInnerLoop loop_;
};

#endif
