#include "jsbsim_atmosphere.h"

#include "FGFDMExec.h"
#include "input_output/FGPropertyManager.h"
#include "models/FGPropagate.h"
#include "models/atmosphere/FGWinds.h"

namespace {

constexpr double kMetresPerFoot = 0.3048;

// MIL-F-8785C's wind 20 ft above the ground for each exceedance curve
// (light 15 kt, moderate 30 kt, severe 45 kt, as JSBSim documents them): it
// sets the turbulence's intensity below 2000 ft, the curve above.
double windspeed_at_20ft_fps(int severity) {
    if (severity <= 0) return 0.0;
    if (severity <= 3) return 25.0;
    if (severity <= 5) return 50.0;
    return 75.0;
}

JSBSim::FGColumnVector3 ned_fps(const V3& v) {
    return {v.x / kMetresPerFoot, v.z / kMetresPerFoot, -v.y / kMetresPerFoot};
}

}  // namespace

void JsbsimAirMass::calm(JSBSim::FGFDMExec& fdm) {
    auto winds = fdm.GetWinds();
    winds->SetWindNED(0.0, 0.0, 0.0);
    winds->SetGustNED(0.0, 0.0, 0.0);
    winds->SetProbabilityOfExceedence(0);
}

void JsbsimAirMass::enter(JSBSim::FGFDMExec& fdm, double altitude_m) {
    if (still()) return;
    auto winds = fdm.GetWinds();
    auto propagate = fdm.GetPropagate();
    const JSBSim::FGColumnVector3 wind = ned_fps(steady_wind_at(air_.wind, altitude_m));
    // The same motion through the air: the velocity over the ground (in
    // body axes) gains the wind.
    const JSBSim::FGColumnVector3 ground = propagate->GetUVW() + propagate->GetTl2b() * wind;
    for (int i = 1; i <= 3; ++i) propagate->SetUVW(i, ground(i));
    winds->SetWindNED(wind);
    // Every model once, without advancing time, so that what is read
    // before the first step (airspeed, air data) is in the moving air.
    fdm.SuspendIntegration();
    fdm.Run();
    fdm.ResumeIntegration();
    if (air_.turbulent()) {
        winds->SetTurbType(air_.turbulence.model == TurbulenceModel::kTustin
                               ? JSBSim::FGWinds::ttTustin
                               : JSBSim::FGWinds::ttMilspec);
        winds->SetProbabilityOfExceedence(air_.turbulence.severity);
        winds->SetWindspeed20ft(windspeed_at_20ft_fps(air_.turbulence.severity));
        // A generator of the flight's own, made afresh from the seed.
        fdm.GetPropertyManager()
            ->GetNode("atmosphere/randomseed")
            ->setIntValue(static_cast<int>(air_.turbulence.seed));
    }
}

void JsbsimAirMass::update(JSBSim::FGFDMExec& fdm, double t_s, double altitude_m) {
    auto winds = fdm.GetWinds();
    if (air_.wind.size() > 1) winds->SetWindNED(ned_fps(steady_wind_at(air_.wind, altitude_m)));
    if (air_.gust) {
        const JSBSim::FGColumnVector3 gust = ned_fps(gust_at(*air_.gust, t_s));
        winds->SetGustNED(gust(1), gust(2), gust(3));
    }
}

V3 JsbsimAirMass::wind(const JSBSim::FGFDMExec& fdm) const {
    if (still()) return {};
    const JSBSim::FGColumnVector3& w = fdm.GetWinds()->GetTotalWindNED();
    return {w(1) * kMetresPerFoot, -w(3) * kMetresPerFoot, w(2) * kMetresPerFoot};
}
