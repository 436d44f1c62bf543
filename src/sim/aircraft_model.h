// What the simulator flies: an aircraft model behind one small interface,
// so that the law, the checks and the pictures do not care whether the
// aircraft is our point mass or a six-degree-of-freedom model.
//
// The simulator drives a model at the law's step: reset() once per flight,
// then per step sense() (the law's aircraft-state inputs), the law, and
// step() under the law's commands. state() holds what the checks and the
// pictures read (position, velocity, flown load factor, thrust).
#ifndef SIM_AIRCRAFT_MODEL_H
#define SIM_AIRCRAFT_MODEL_H

#include <cmath>
#include <stdexcept>
#include <string>

#include "GuideW.h"
#include "air_mass.h"
#include "flight_state.h"

// An aircraft that cannot be had or flown: unknown, not a model, failed to
// load or to trim, or left the range of its data. The message names the
// aircraft and the cause in one line.
class AircraftError : public std::runtime_error {
public:
    enum Kind {
        kUnknown,  // no aircraft of that name, a folder that is not one, or a control
                   // entry that is unknown or refused for it
        kLoad,     // the aircraft's files could not be loaded
        kTrim,     // no straight flight at the start the scenario asks
    };
    AircraftError(Kind kind, const std::string& what, const std::string& log = "")
        : std::runtime_error(what), kind_(kind), log_(log) {}
    Kind kind() const { return kind_; }
    // The model's own messages up to the failure (see log() below).
    const std::string& log() const { return log_; }

private:
    Kind kind_;
    std::string log_;
};

// The envelope a flight must stay inside, as the aircraft's data give it.
struct AircraftLimits {
    double max_load_g = INFINITY;         // structural positive limit
    double min_load_g = -INFINITY;        // structural negative limit
    double max_alpha_deg = INFINITY;      // angle of attack the data reach
    double max_roll_rate_dps = INFINITY;  // the roll-rate demand it follows at most
    double elevator_rate_dps = INFINITY;  // its elevator actuator's rate, where known
};

// What the aircraft's air-data system and surface position sensors read,
// for the figures and pictures: NaN where a model has no such quantity (the
// point mass has no angle of attack, sideslip or surfaces).
struct AirData {
    double alpha_deg = NAN;  // angle of attack
    double beta_deg = NAN;   // sideslip, positive with the wind from the right
    double mach = NAN;
    double elevator_deg = NAN;  // surface positions, as the model signs them
    double aileron_deg = NAN;
    double rudder_deg = NAN;
    double gear_down = NAN;  // 0 retracted, 1 down and locked
};

class AircraftModel {
public:
    virtual ~AircraftModel() = default;

    // The name scenarios and the command line give it.
    virtual const std::string& name() const = 0;

    // Starts a new flight at init. Throws AircraftError when the aircraft
    // cannot fly there (no trim).
    virtual void reset(const InitialFlight& init) = 0;

    // The air the flights from the next reset() on fly in. Returns what of
    // it the model leaves out, in words; empty when it flies all of it.
    virtual std::string set_air_mass(const AirMass& air) {
        return air.wind.empty() && !air.turbulent() && !air.gust ? ""
                                                                 : "the wind, turbulence and gust";
    }

    // Fills the aircraft-state inputs of the law (attitude, speeds, roll
    // rate, altitude); the command inputs are left as they are.
    virtual void sense(GuideWInputs& u) const = 0;

    // Advances the aircraft by one step of the law (kStep_s) under cmd.
    virtual void step(const GuideWOutputs& cmd) = 0;

    // The quantities the checks and the pictures read, after the last
    // reset() or step(): position (y up), velocity, flown load factor,
    // thrust fraction.
    virtual const Aircraft& state() const = 0;

    virtual AircraftLimits limits() const { return {}; }

    // The throttle the last reset() trimmed to (NaN where it does not trim).
    virtual double trim_throttle() const { return NAN; }

    // Angle of attack now, degrees (0 for a model without one).
    virtual double alpha_deg() const { return 0.0; }

    // The air data and surfaces now.
    virtual AirData air_data() const { return {}; }

    // Empty while the model is sound; otherwise why it can no longer be
    // flown (it diverged or left its data), naming the aircraft.
    virtual std::string fault() const { return {}; }

    // The model's own messages (warnings a flight-dynamics library prints),
    // collected instead of shown.
    virtual std::string log() const { return {}; }
};

#endif
