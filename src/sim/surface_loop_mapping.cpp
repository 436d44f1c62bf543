#include "surface_loop_mapping.h"

namespace {

constexpr double kKiloPascalPerPsf = 0.047880259;

}  // namespace

TrimHandover SurfaceLoopMapping::reset(const TrimReading& trim) {
    loop_.reset(trim.elevator_cmd_norm, trim.qbar_psf * kKiloPascalPerPsf, trim.elevator_lift_g);
    return {};
}

Controls SurfaceLoopMapping::step(const LawCommand& cmd, const MappingInput& in, double dt) {
    InnerLoopInput loop_in;
    loop_in.n_cmd_g = cmd.load_cmd_g;
    loop_in.n_g = in.load_g;
    loop_in.p_cmd_rps = cmd.roll_rate_cmd_rps;
    loop_in.p_rps = in.p_rps;
    loop_in.q_rps = in.q_rps;
    loop_in.qbar_kpa = in.qbar_psf * kKiloPascalPerPsf;
    loop_in.speed_mps = in.speed_mps;
    loop_in.theta_rad = in.theta_rad;
    loop_in.phi_rad = in.phi_rad;
    loop_in.elevator_lift_g = in.elevator_lift_g;
    loop_in.alpha_deg = in.alpha_deg;
    loop_in.beta_rad = in.beta_rad;
    const SurfaceCommand s = loop_.step(loop_in, dt);
    return {s.elevator, s.aileron, s.rudder, cmd.throttle_cmd_norm};
}
