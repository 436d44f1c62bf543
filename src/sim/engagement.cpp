#include "engagement.h"

#include <algorithm>
#include <cmath>

#include "guide_fields.h"
#include "law_constants.h"
#include "text_format.h"

namespace {

using guidew_text::format;

double angle_between_deg(V3 a, V3 b) {
    const double c = dot(a, b) / (norm(a) * norm(b));
    return std::acos(std::clamp(c, -1.0, 1.0)) * kDegPerRad;
}

// The first command of the opponent's law that is not finite, by name.
const char* first_non_finite(const GuideWOutputs& y) {
    for (int i = 0; i < kOutputCount; ++i) {
        if (!std::isfinite(output_values(y)[i])) return kOutputNames[i];
    }
    return nullptr;
}

std::unique_ptr<TargetTrack> moving_target(const TargetSetup& t, const InitialFlight& own) {
    if (t.opponent) return nullptr;
    if (t.recorded) return recorded_target(*t.recorded);
    return scripted_target(target_start(t.geometry, own), t.manoeuvre);
}

void put_commands(const PursuitCommand& c, GuideWInputs& u) {
    u.azim_cmd = c.azim_cmd_deg;
    u.elev_cmd = c.elev_cmd_deg;
    if (c.speed_cmd_mps) u.speed_cmd = *c.speed_cmd_mps;
}

}  // namespace

EngagementGeometry engagement_geometry(V3 own_position_m, V3 own_velocity_mps, V3 target_position_m,
                                       V3 target_velocity_mps) {
    const V3 los = target_position_m - own_position_m;
    EngagementGeometry g;
    g.range_m = norm(los);
    g.closure_mps = -dot(los, target_velocity_mps - own_velocity_mps) / g.range_m;
    g.ata_deg = angle_between_deg(own_velocity_mps, los);
    // Seen from the target, we lie along -los; its tail points along -v.
    g.angle_off_tail_deg = angle_between_deg(target_velocity_mps, los);
    g.hca_deg = angle_between_deg(own_velocity_mps, target_velocity_mps);
    return g;
}

Engagement::Engagement(const TargetSetup& target, const std::optional<PursuitSettings>& pursuit,
                       const InitialFlight& own_start, const AirMass& air, Opponent* opponent)
    : pursuit_(pursuit),
      track_(moving_target(target, own_start)),
      sensor_(pursuit ? pursuit->sensor : SensorSettings{}),
      opponent_(target.opponent ? opponent : nullptr),
      opponent_setup_(target.opponent) {
    if (!opponent_setup_) return;
    const TargetState start = target_start(target.geometry, own_start);
    InitialFlight init;
    init.altitude_m = start.position.y;
    init.speed_mps = start.speed_mps;
    init.heading_deg = start.heading_deg;
    init.path_deg = start.path_deg;
    init.bank_deg = 0.0;
    opponent_->aircraft.set_air_mass(air);
    try {
        opponent_->aircraft.reset(init);
    } catch (const AircraftError& e) {
        throw AircraftError(e.kind(), std::string("the opponent: ") + e.what(), e.log());
    }
    opponent_offset_ = {start.position.x, 0.0, start.position.z};
    opponent_->law.initialize();
    for (const auto& [name, value] : opponent_setup_->params)
        set_parameter(opponent_->law.params(), name, value);
    opponent_u_ = opponent_setup_->commands;
    opponent_sensor_.emplace(opponent_setup_->pursuit ? opponent_setup_->pursuit->sensor
                                                      : SensorSettings{});
    envelope_ = std::make_unique<EnvelopeWatch>(opponent_->aircraft);
}

TargetState Engagement::opponent_state() const {
    const Aircraft& a = opponent_->aircraft.state();
    TargetState s;
    s.position = a.position + opponent_offset_;
    s.velocity = a.velocity;
    s.heading_deg = opponent_u_.yaw;
    s.path_deg = opponent_u_.pitch;
    s.bank_deg = opponent_u_.roll;
    s.speed_mps = opponent_u_.tas;
    s.load_g = a.load_g;
    return s;
}

void Engagement::command(double t_s, const Aircraft& own, GuideWInputs& u) {
    if (opponent_) {
        apply_due_events(opponent_setup_->events, opponent_next_event_, t_s, opponent_u_);
        opponent_->aircraft.sense(opponent_u_);
    }
    const TargetState target = opponent_ ? opponent_state() : track_->state();
    PursuitInput in{own.position, own.velocity, {}, {}};
    sensor_.observe(target.position, target.velocity, in.target_position_m, in.target_velocity_mps);
    aim_point_ = target.position;
    if (pursuit_ && t_s >= pursuit_->start_s) {
        const PursuitCommand c = pursue(*pursuit_, in);
        put_commands(c, u);
        aim_point_ = c.aim_point_m;
    }
    if (opponent_) command_opponent(t_s, own);
}

// The opponent's own pursuit of us, then its law's step.
void Engagement::command_opponent(double t_s, const Aircraft& own) {
    const TargetState me = opponent_state();
    PursuitInput in{me.position, me.velocity, {}, {}};
    opponent_sensor_->observe(own.position, own.velocity, in.target_position_m,
                              in.target_velocity_mps);
    const std::optional<PursuitSettings>& p = opponent_setup_->pursuit;
    if (p && t_s >= p->start_s) put_commands(pursue(*p, in), opponent_u_);
    opponent_->law.step(opponent_u_, opponent_y_);
    if (const char* bad = first_non_finite(opponent_y_); bad && fault_.empty())
        fault_ = format("its %s is not finite at t = %.2f s", bad, t_s);
}

const EngagementSample& Engagement::sample(const Aircraft& own) {
    sample_.target = opponent_ ? opponent_state() : track_->state();
    const TargetState& t = sample_.target;
    sample_.geometry = engagement_geometry(own.position, own.velocity, t.position, t.velocity);
    sample_.opponent_geometry =
        engagement_geometry(t.position, t.velocity, own.position, own.velocity);
    sample_.aim_point_m = aim_point_;
    if (opponent_) {
        sample_.opponent_inputs = &opponent_u_;
        sample_.opponent_outputs = &opponent_y_;
        sample_.opponent_air = opponent_->aircraft.air_data();
    }
    return sample_;
}

void Engagement::step(double t_s) {
    if (!opponent_) {
        track_->step(t_s);
        return;
    }
    envelope_->observe(t_s);
    opponent_->aircraft.step(opponent_y_);
    const double t_next = t_s + kStep_s;
    const Aircraft& a = opponent_->aircraft.state();
    if (!fault_.empty()) return;
    if (!opponent_->aircraft.fault().empty()) {
        fault_ = opponent_->aircraft.fault();
    } else if (!std::isfinite(a.position.x) || !std::isfinite(a.position.y) ||
               !std::isfinite(a.position.z)) {
        fault_ = format("its position is not finite at t = %.2f s", t_next);
    } else if (!(a.position.y > 0.0)) {
        fault_ = format("it reached the ground at t = %.2f s", t_next);
    }
}

void Engagement::report(EngagementFigures& f) const {
    if (!opponent_) return;
    FlightFigures own;
    envelope_->report(own);
    f.opponent_name = own.aircraft;
    f.opponent_fault = fault_;
    f.opponent_load = own.load_excursion;
    f.opponent_alpha = own.alpha_excursion;
    f.opponent_load_limit_min_g = own.min_load_limit_g;
    f.opponent_load_limit_max_g = own.max_load_limit_g;
    f.opponent_alpha_limit_deg = own.alpha_limit_deg;
}

EngagementTracker::EngagementTracker(double on_target_deg, const RearCone& cone, bool opponent) {
    f_.on_target_deg = on_target_deg;
    f_.cone = cone;
    if (opponent) f_.opponent_cone.emplace();
}

void EngagementTracker::observe(double t_s, const EngagementGeometry& ours,
                                const EngagementGeometry& theirs) {
    // As the commanded direction's band: the time that counts is the last
    // entry, provided the velocity stays on the line of sight to the end.
    const bool on = ours.ata_deg <= f_.on_target_deg;
    if (on && !f_.on_target) f_.on_target_entered_s = t_s;
    if (on && !f_.first_on_target_s) f_.first_on_target_s = t_s;
    f_.on_target = on;
    if (!(ours.range_m >= f_.closest_m)) {
        f_.closest_m = ours.range_m;
        f_.closest_t_s = t_s;
    }
    f_.final_range_m = ours.range_m;
    observe_cone(t_s, ours, f_.cone_time, cone_since_s_, in_cone_);
    if (f_.opponent_cone)
        observe_cone(t_s, theirs, *f_.opponent_cone, opponent_since_s_, opponent_in_cone_);
}

void EngagementTracker::observe_cone(double t_s, const EngagementGeometry& g, ConeTime& c,
                                     double& since_s, bool& inside) {
    const bool now = g.angle_off_tail_deg <= f_.cone.angle_deg && g.ata_deg <= f_.cone.ata_deg &&
                     g.range_m >= f_.cone.min_range_m && g.range_m <= f_.cone.max_range_m;
    // Time counts between two steps both inside.
    if (now && !inside) since_s = t_s;
    if (now && !c.first_s) c.first_s = t_s;
    if (now && inside) {
        c.total_s += kStep_s;
        c.longest_s = std::max(c.longest_s, t_s - since_s);
    }
    inside = now;
}

std::string first_in_cone(const EngagementFigures& f) {
    const std::optional<double>& ours = f.cone_time.first_s;
    const std::optional<double> theirs =
        f.opponent_cone ? f.opponent_cone->first_s : std::optional<double>();
    if (ours && theirs && *ours == *theirs) return "both";
    if (ours && (!theirs || *ours < *theirs)) return "us";
    return theirs ? "opponent" : "";
}
