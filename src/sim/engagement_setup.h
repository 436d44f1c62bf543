// What a scenario says of an engagement: the target it flies against (a
// script, a recorded track or a second aircraft flown by a law), and the
// rear cone it is judged by. target.h and pursuit.h say what each means;
// engagement.h flies it.
#ifndef SIM_ENGAGEMENT_SETUP_H
#define SIM_ENGAGEMENT_SETUP_H

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "pursuit.h"
#include "target.h"

// A second aircraft flown by a law of its own.
struct OpponentSetup {
    std::string aircraft;  // empty: the same aircraft as ours
    std::string control;   // its control entry (empty: its own)
    // Either it pursues us, or it flies its commands and events.
    std::optional<PursuitSettings> pursuit;
    GuideWInputs commands{};
    std::vector<TimedChange> events;
    std::vector<std::pair<std::string, double>> params;  // its law's, after its trim table
};

struct TargetSetup {
    TargetGeometry geometry;  // unused by a recorded track (its file places it)
    Manoeuvre manoeuvre;
    std::shared_ptr<const RecordedTrack> recorded;
    std::optional<OpponentSetup> opponent;
};

// The cone behind the target from which a gun or a rear-aspect missile can
// be brought to bear: we are within angle_deg of its tail, at a range
// within the bounds, and point at it within ata_deg (without the last, an
// aircraft flying away from the target's tail, back to back, would count).
struct RearCone {
    double angle_deg = 30.0;
    double min_range_m = 500.0, max_range_m = 3000.0;
    double ata_deg = 30.0;
};

#endif
