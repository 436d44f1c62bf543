// An engagement: our aircraft, flown by the law, against a target that
// moves (target.h), the law's commands made from the geometry by the
// pursuit layer (pursuit.h). The target may be a second aircraft flown by a
// second law, itself pursuing us or flying a script: a one-against-one.
// Both step in lock-step at the law's step: at each step both laws see the
// state both aircraft are in now, then both aircraft move.
//
// The geometry an engagement is judged by, each from our side:
//   range        the distance between the two
//   closure      how fast the range shrinks (negative while it opens)
//   ata          antenna train angle: our velocity off the line of sight;
//                0 when we point at the target
//   angle off tail
//                where we are seen from the target's tail: 0 dead astern,
//                180 in front of it (air-combat literature's aspect angle
//                measured from the tail; a radar's "aspect" reads 180 minus it)
//   hca          heading crossing angle, between the two velocities
// The rear cone is where a gun or a rear-aspect missile can be brought to
// bear: angle off tail and range within stated bounds, and our nose on the
// target (ata within a bound).
#ifndef SIM_ENGAGEMENT_H
#define SIM_ENGAGEMENT_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GuideW.h"
#include "aircraft_model.h"
#include "envelope_watch.h"
#include "guidance_law.h"
#include "engagement_figures.h"
#include "engagement_setup.h"

// The geometry of us (own) against the target, from our side.
EngagementGeometry engagement_geometry(V3 own_position_m, V3 own_velocity_mps, V3 target_position_m,
                                       V3 target_velocity_mps);

// One step of an engagement as recorded beside our own flight.
struct EngagementSample {
    TargetState target;                    // where it is, our frame
    EngagementGeometry geometry;           // ours on it
    EngagementGeometry opponent_geometry;  // its on us (a one-against-one)
    V3 aim_point_m;                        // where our pursuit steers (the target's while none)
    // The opponent's law at this step (null without one).
    const GuideWInputs* opponent_inputs = nullptr;
    const GuideWOutputs* opponent_outputs = nullptr;
    AirData opponent_air;
};

// The second aircraft of a one-against-one, as the host provides it.
struct Opponent {
    GuidanceLaw& law;
    AircraftModel& aircraft;
};

// The target (scripted, recorded or the opponent), the pursuit of it and the
// opponent's law, stepped beside our flight.
class Engagement {
public:
    // Resets the target and the opponent to their start; throws
    // AircraftError (kTrim) when the opponent cannot be trimmed there.
    Engagement(const TargetSetup& target, const std::optional<PursuitSettings>& pursuit,
               const InitialFlight& own_start, const AirMass& air, Opponent* opponent);

    // Before the laws step at t: our commands from the target as sensed
    // (from the pursuit's start on), and the opponent's law stepped on what
    // it senses.
    void command(double t_s, const Aircraft& own, GuideWInputs& u);

    // The geometry now, for the checks, the sink and the figures.
    const EngagementSample& sample(const Aircraft& own);

    // The target or the opponent moves one step (after ours has).
    void step(double t_s);

    // Why the opponent can no longer be flown (empty: it can): a value not
    // finite, its model's fault, the ground; and when.
    const std::string& opponent_fault() const { return fault_; }

    // What of the opponent the checks judge: its fault, its envelope.
    void report(EngagementFigures& f) const;

private:
    TargetState opponent_state() const;
    void command_opponent(double t_s, const Aircraft& own);

    std::optional<PursuitSettings> pursuit_;
    std::unique_ptr<TargetTrack> track_;
    TargetSensor sensor_;
    Opponent* opponent_;
    std::optional<OpponentSetup> opponent_setup_;
    std::optional<TargetSensor> opponent_sensor_;
    std::unique_ptr<EnvelopeWatch> envelope_;
    V3 opponent_offset_;  // its model's start position in our frame
    GuideWInputs opponent_u_{};
    GuideWOutputs opponent_y_{};
    size_t opponent_next_event_ = 0;
    std::string fault_;
    V3 aim_point_;
    EngagementSample sample_;
};

#endif
