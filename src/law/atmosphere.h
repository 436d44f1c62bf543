// The law's atmosphere: an isothermal column at the local temperature of the
// standard troposphere, constant 216.65 K from the tropopause up. The
// equivalent airspeed and both time constants scale with the density-ratio
// root; the simulator's aircraft flies in the same air.
#ifndef ATMOSPHERE_H
#define ATMOSPHERE_H

#include <cmath>

#include "law_constants.h"

// Air density at altitude h (m), kg/m^3. The exponent's factor is formed
// first and then multiplied by h.
inline double air_density_kgpm3(double h_m) {
    double temp_K = kSeaLevelTemp_K - kLapseRate_Kpm * h_m;
    if (h_m >= kTropopause_m) temp_K = kStratosphereTemp_K;
    return kSeaLevelDensity_kgpm3 *
           std::exp((-kStandardGravity_mps2 / (kGasConstantAir_JpkgK * temp_K)) * h_m);
}

// Square root of the density ratio at altitude h (m): the density is formed
// first, then divided by the sea-level density.
inline double density_ratio_root(double h_m) {
    return std::sqrt(air_density_kgpm3(h_m) / kSeaLevelDensity_kgpm3);
}

#endif
