// What an engagement showed, as the checks (checks.h) and the figures
// read it: how soon our velocity came onto the line of sight, the closest
// approach, and the time each aircraft spent in the other's rear cone.
#ifndef SIM_ENGAGEMENT_FIGURES_H
#define SIM_ENGAGEMENT_FIGURES_H

#include <cmath>
#include <optional>
#include <string>

#include "engagement_setup.h"

// An aircraft's first moment outside its envelope (load, angle of attack).
struct Excursion {
    double value;
    double t_s;
};

// The geometry of us against the target at one step, from our side
// (engagement.h says what each angle is).
struct EngagementGeometry {
    double range_m = 0.0, closure_mps = 0.0;
    double ata_deg = 0.0, angle_off_tail_deg = 0.0, hca_deg = 0.0;
};

// What an engagement showed, as far as the checks and the figures judge it.
struct ConeTime {
    double total_s = 0.0;
    std::optional<double> first_s;  // first entry
    double longest_s = 0.0;         // the longest stay
};

struct EngagementFigures {
    double on_target_deg = 10.0;  // the band the ATA is judged in
    bool on_target = false;       // inside it at the end
    double on_target_entered_s = 0.0;
    std::optional<double> first_on_target_s;
    double closest_m = INFINITY, closest_t_s = 0.0;
    double final_range_m = 0.0;
    RearCone cone;
    ConeTime cone_time;                     // we in the target's rear cone
    std::optional<ConeTime> opponent_cone;  // the opponent in ours
    std::string opponent_fault;
    std::optional<Excursion> opponent_load, opponent_alpha;
    std::string opponent_name;
    double opponent_load_limit_min_g = 0.0, opponent_load_limit_max_g = 0.0;
    double opponent_alpha_limit_deg = 0.0;
};

// Gathers the figures step by step.
class EngagementTracker {
public:
    EngagementTracker(double on_target_deg, const RearCone& cone, bool opponent);
    void observe(double t_s, const EngagementGeometry& ours, const EngagementGeometry& theirs);
    EngagementFigures& figures() { return f_; }

private:
    void observe_cone(double t_s, const EngagementGeometry& g, ConeTime& c, double& since_s,
                      bool& inside);
    EngagementFigures f_;
    double cone_since_s_ = 0.0, opponent_since_s_ = 0.0;
    bool in_cone_ = false, opponent_in_cone_ = false;
};

// Who first held the other in the rear cone: "us", "opponent", "both" (at
// the same step) or "" (neither did).
std::string first_in_cone(const EngagementFigures& f);

#endif
