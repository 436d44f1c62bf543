// What an engagement flies against: a target that moves by a script, along
// a recorded trajectory, or as a second aircraft flown by a law of its own
// (engagement.h steps that one, since it needs the law).
//
// A scripted target is a point that flies coordinated, without sideslip:
// its velocity turns with the bank and load the script gives it, integrated
// at the law's step so that two runs of one flight agree to the last bit.
//   straight   constant velocity; a climb or dive when path_deg is not 0
//   turn       level, at a constant load factor from start_s on: bank
//              acos(1/n), turn rate g sqrt(n^2 - 1) / V; rolled out
//              after turn_deg of heading when one is given
//   weave      level, its bank a sine of bank_deg and period_s (the turn
//              rate g tan(bank) / V follows it)
//   climb      level until start_s, then a pull (or push) at load_g onto
//              path_deg, held after
//   recorded   positions and velocities from a CSV file (target_track.h)
// Its start is placed from our own start by the geometry an air-combat
// engineer states (TargetGeometry below).
#ifndef SIM_TARGET_H
#define SIM_TARGET_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flight_state.h"
#include "vec3.h"

// Where the target starts, seen from our own start.
struct TargetGeometry {
    double range_m = 3000.0;  // horizontal distance from us to it
    // Where we are, seen from its tail: 0 dead astern, 180 ahead of it,
    // positive on its right-hand side.
    double angle_off_tail_deg = 0.0;
    double crossing_deg = 0.0;     // its heading minus ours (the heading crossing angle)
    double altitude_diff_m = 0.0;  // its altitude minus ours
    double speed_mps = 200.0;
    double path_deg = 0.0;  // its flight-path angle at the start
};

enum class ManoeuvreKind { kStraight, kTurn, kWeave, kClimb };

struct Manoeuvre {
    ManoeuvreKind kind = ManoeuvreKind::kStraight;
    double start_s = 0.0;    // turn, climb: when it begins
    double load_g = 3.0;     // turn: the level turn's load; climb: the pull onto path_deg
    int side = 1;            // turn: +1 right, -1 left
    double turn_deg = 0.0;   // turn: rolls out after turning this far (0: turns on)
    double bank_deg = 45.0;  // weave: the bank's amplitude
    double period_s = 10.0;  // weave: one full left-right cycle
    double path_deg = 0.0;   // climb: the flight-path angle it settles on
};

// A target's state as the geometry and the replays read it.
struct TargetState {
    V3 position;  // m, in our frame: x north, y altitude, z east
    V3 velocity;  // m/s over the ground
    double heading_deg = 0.0;
    double path_deg = 0.0;
    double bank_deg = 0.0;
    double speed_mps = 0.0;
    double load_g = 1.0;
};

// A trajectory recorded elsewhere (another simulator, a flight test), in
// our frame, with time in seconds from the flight's start.
struct RecordedTrack {
    std::string origin;  // the file, for messages
    std::vector<double> t_s;
    std::vector<V3> position, velocity;
};

// The target's start in our frame, our own start being own.
TargetState target_start(const TargetGeometry& g, const InitialFlight& own);

// A target the simulator moves itself, one step of the law at a time.
class TargetTrack {
public:
    virtual ~TargetTrack() = default;
    virtual const TargetState& state() const = 0;
    virtual void step(double t_s) = 0;  // from t_s to t_s + kStep_s
};

std::unique_ptr<TargetTrack> scripted_target(const TargetState& start, const Manoeuvre& m);
std::unique_ptr<TargetTrack> recorded_target(const RecordedTrack& track);

// Reads a recorded trajectory: a CSV with the header
//   t_s,north_m,east_m,altitude_m,vel_north_mps,vel_east_mps,vel_up_mps
// times strictly increasing from 0. Throws a ToolError (status 1) naming
// the file, the line and what is wrong.
RecordedTrack read_recorded_track(const std::string& path);

#endif
