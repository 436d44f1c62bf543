// Build-time defaults of the parameter record. The host may overwrite any of
// them through the exported GuideW_P; GuideW_initialize() does not restore
// them. Every new instance starts from the same defaults. What each
// parameter means is written once, in the field list (GuideW_fields.h);
// the comments here say only why a value is what it is.
#include "GuideW.h"
#include "guidance_defaults.h"

constexpr GuideWParams kGuideWDefaultParams = {
    1.0,     // guide_ref: the velocity vector
    2.5,     // roll_kp
    0.25,    // roll_kd
    150.0,   // lat_max
    -150.0,  // lat_min
    9.0,     // nz_max: the structure's limit when fast
    -5.0,    // nz_min

    // clang-format off
    // thr_table. Each line is one speed column, the altitudes 0, 2000, ...,
    // 20000 m along it.
    {
        /* 100 m/s */ 0.266878, 0.348555, 0.476807, 0.269897, 0.389722, 0.309455, 0.467749, 0.401801, 0.381488, 0.384276, 0.404484,
        /* 150 m/s */ 0.214268, 0.201103, 0.213852, 0.269897, 0.389722, 0.309455, 0.467749, 0.401801, 0.381488, 0.384276, 0.404484,
        /* 200 m/s */ 0.339905, 0.268172, 0.220243, 0.201109, 0.221497, 0.309455, 0.467749, 0.401801, 0.381488, 0.384276, 0.404484,
        /* 250 m/s */ 0.546143, 0.419246, 0.315178, 0.241892, 0.204189, 0.212669, 0.282948, 0.401801, 0.381488, 0.384276, 0.404484,
        /* 300 m/s */ 0.769814, 0.607692, 0.463562, 0.335832, 0.247434, 0.203768, 0.21235, 0.269546, 0.381488, 0.384276, 0.404484,
        /* 350 m/s */ 1.0, 0.816083, 0.628101, 0.467086, 0.32699, 0.235844, 0.201899, 0.213033, 0.27139, 0.384276, 0.404484,
        /* 400 m/s */ 1.0, 1.0, 0.811402, 0.60824, 0.433653, 0.294631, 0.222138, 0.201118, 0.218527, 0.284713, 0.404484,
        /* 450 m/s */ 1.0, 1.0, 1.0, 0.761066, 0.555238, 0.373698, 0.263144, 0.21345, 0.201768, 0.230994, 0.309786,
        /* 500 m/s */ 1.0, 1.0, 1.0, 0.935462, 0.675683, 0.469727, 0.319997, 0.242134, 0.205271, 0.206343, 0.251503,
        /* 550 m/s */ 1.0, 1.0, 1.0, 1.0, 0.812063, 0.569458, 0.389976, 0.283907, 0.222925, 0.201169, 0.217673,
        /* 600 m/s */ 1.0, 1.0, 1.0, 1.0, 0.963649, 0.669942, 0.47146, 0.336296, 0.251453, 0.208507, 0.203656,
        /* 650 m/s */ 1.0, 1.0, 1.0, 1.0, 1.0, 0.781418, 0.5555, 0.397896, 0.288865, 0.225415, 0.20141,
    },
    // clang-format on

    // thr_alt_bp
    {0.0, 2000.0, 4000.0, 6000.0, 8000.0, 10000.0, 12000.0, 14000.0, 16000.0, 18000.0, 20000.0},

    // thr_spd_bp
    {100.0, 150.0, 200.0, 250.0, 300.0, 350.0, 400.0, 450.0, 500.0, 550.0, 600.0, 650.0},

    0.01,      // thr_gain
    1.2,       // thr_max
    0.0,       // thr_min
    {10, 11},  // thr_max_index: the whole table
};

GuideWParams GuideW_P = kGuideWDefaultParams;

const GuideWParams& guidance_default_params() { return kGuideWDefaultParams; }
