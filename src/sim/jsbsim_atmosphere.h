// The scenario's air mass in a JSBSim aircraft's world, through JSBSim's
// own winds model (FGWinds): the steady wind by altitude, its Dryden
// turbulence (MIL-F-8785C, the "milspec" or "tustin" discretisation) from a
// random generator of the flight's own seed, and the one-minus-cosine gust
// through its gust input. (JSBSim's own cosine gust keeps the direction of
// a gust cut short by a reset for the next one, so an aircraft flown again
// would blow a later flight's gust the old way: the profile is ours,
// air_mass.h, and starts afresh every flight.)
//
// The aircraft is trimmed in still air at the start's airspeed, then set
// moving with the air (its velocity over the ground gains the wind there):
// in a wind the same all around, the trim through the air is that of still
// air, so the aircraft starts in the same straight flight through the air
// mass. Turbulence starts after the trim, its generator seeded then, so a
// seed gives the same turbulence whatever flew before on the same model.
#ifndef SIM_JSBSIM_ATMOSPHERE_H
#define SIM_JSBSIM_ATMOSPHERE_H

#include "air_mass.h"
#include "vec3.h"

namespace JSBSim {
class FGFDMExec;
}

class JsbsimAirMass {
public:
    void set(const AirMass& air) { air_ = air; }

    // Before the trim: still air, no turbulence (left over from the last
    // flight), no gust.
    void calm(JSBSim::FGFDMExec& fdm);

    // After the trim: the trimmed aircraft in the moving air at altitude_m,
    // and the turbulence on from its seed.
    void enter(JSBSim::FGFDMExec& fdm, double altitude_m);

    // Before the law step at t_s: the wind of the altitude the aircraft is
    // at, and the gust of that moment.
    void update(JSBSim::FGFDMExec& fdm, double t_s, double altitude_m);

    // The air's velocity at the aircraft now (steady wind, turbulence and
    // gust; north, up, east, m/s): exactly zero in still air.
    V3 wind(const JSBSim::FGFDMExec& fdm) const;

private:
    bool still() const { return air_.wind.empty() && !air_.turbulent() && !air_.gust; }
    AirMass air_;
};

#endif
