#include "control_mapping.h"

#include <algorithm>

#include "control_gains.h"
#include "fcs_mapping.h"
#include "law_constants.h"
#include "surface_loop_mapping.h"

LawCommand law_command(const GuideWOutputs& cmd, double max_roll_rate_dps) {
    LawCommand c;
    c.roll_rate_cmd_rps = std::clamp(std::isfinite(cmd.lat_cmd) ? cmd.lat_cmd : 0.0,
                                     -max_roll_rate_dps, max_roll_rate_dps) *
                          kRadPerDeg;
    c.load_cmd_g = std::isfinite(cmd.nz_cmd) ? cmd.nz_cmd : 1.0;
    c.throttle_cmd_norm =
        std::clamp(std::isfinite(cmd.throttle_cmd) ? cmd.throttle_cmd : 0.0, 0.0, 1.0);
    return c;
}

std::unique_ptr<ControlMapping> make_control_mapping(const ControlEntry& entry) {
    switch (entry.mapping) {
        case MappingKind::kFcs: return std::make_unique<FcsMapping>(entry.fcs);
        case MappingKind::kSurfaceLoop: break;
    }
    return std::make_unique<SurfaceLoopMapping>(entry.surface_loop, entry.limits);
}
