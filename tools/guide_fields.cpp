#include "guide_fields.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

const char* const kInputNames[kInputCount] = {
    "speed_cmd", "elev_cmd", "azim_cmd",  "ext_weight", "ext_nz",
    "ext_bank",  "ext_throttle", "mode",  "yaw",        "pitch",
    "roll",      "tas",      "vel_up",    "vel_north",  "vel_east",
    "roll_rate", "altitude", "ext_lat",   "aux_in"};

const char* const kOutputNames[kOutputCount] = {"lat_cmd", "nz_cmd",
                                                "throttle_cmd", "aux_out"};

const char* const kStateNames[kStateCount] = {
    "splits_active",  "splits_pull",    "turn_sign",     "inverted_latch",
    "upright_latch",  "splits_timer",   "sign_latch",    "bank_captured",
    "front_roll_err", "was_behind",     "front_entry_roll", "splits_bank",
    "orbit_yaw_ref",  "orbit_latched",  "orbit_alt_ref", "ext_bank_latch"};

static_assert(sizeof(GuideWInputs) == kInputCount * sizeof(double), "inputs are all doubles");
static_assert(sizeof(GuideWOutputs) == kOutputCount * sizeof(double), "outputs are all doubles");
static_assert(sizeof(GuideWStates) == kStateCount * sizeof(double), "states are all doubles");

int field_index(const char* const* names, int count, const std::string& name) {
    for (int i = 0; i < count; ++i) {
        if (name == names[i]) return i;
    }
    return -1;
}

const double* input_values(const GuideWInputs& u) { return &u.speed_cmd; }
double* input_values(GuideWInputs& u) { return &u.speed_cmd; }
const double* output_values(const GuideWOutputs& y) { return &y.lat_cmd; }
const double* state_values(const GuideWStates& dw) { return &dw.splits_active; }

namespace {

struct ParamField {
    const char* name;
    double GuideWParams::*scalar;
    size_t array_offset;  // for arrays: offset of element 0
    int length;           // 0 for scalars
};

#define GUIDE_ARRAY(f) \
    ParamField{#f, nullptr, offsetof(GuideWParams, f), \
               static_cast<int>(sizeof(GuideWParams::f) / sizeof(GuideWParams::f[0]))}

const ParamField kParams[] = {
    {"guide_ref", &GuideWParams::guide_ref, 0, 0},
    {"roll_kp", &GuideWParams::roll_kp, 0, 0},
    {"roll_kd", &GuideWParams::roll_kd, 0, 0},
    {"lat_max", &GuideWParams::lat_max, 0, 0},
    {"lat_min", &GuideWParams::lat_min, 0, 0},
    {"nz_max", &GuideWParams::nz_max, 0, 0},
    {"nz_min", &GuideWParams::nz_min, 0, 0},
    GUIDE_ARRAY(thr_table),
    GUIDE_ARRAY(thr_alt_bp),
    GUIDE_ARRAY(thr_spd_bp),
    {"thr_gain", &GuideWParams::thr_gain, 0, 0},
    {"thr_max", &GuideWParams::thr_max, 0, 0},
    {"thr_min", &GuideWParams::thr_min, 0, 0},
    GUIDE_ARRAY(thr_max_index),
};

#undef GUIDE_ARRAY

// Splits "base[index]" into its parts; index is -1 without brackets and -2
// when the brackets hold no whole number.
void split_name(const std::string& name, std::string& base, long& index) {
    const size_t open = name.find('[');
    if (open == std::string::npos) {
        base = name;
        index = -1;
        return;
    }
    base = name.substr(0, open);
    const std::string inner = name.substr(open + 1);
    char* end = nullptr;
    index = std::strtol(inner.c_str(), &end, 10);
    if (inner.empty() || end == inner.c_str() || std::strcmp(end, "]") != 0 || index < 0) {
        index = -2;
    }
}

}  // namespace

std::string parameter_name_list() {
    std::string list;
    for (const ParamField& f : kParams) {
        if (!list.empty()) list += ", ";
        list += f.name;
        if (f.length > 0) list += "[0.." + std::to_string(f.length - 1) + "]";
    }
    return list;
}

std::string set_parameter(GuideWParams& p, const std::string& name, double value) {
    std::string base;
    long index;
    split_name(name, base, index);
    for (const ParamField& f : kParams) {
        if (base != f.name) continue;
        if (f.length == 0) {
            if (index != -1) return "parameter " + base + " is not an array";
            p.*f.scalar = value;
            return "";
        }
        if (index < 0 || index >= f.length) {
            return "parameter " + base + " needs an index in [0.." +
                   std::to_string(f.length - 1) + "], as in " + base + "[0]";
        }
        char* field = reinterpret_cast<char*>(&p) + f.array_offset;
        if (std::strcmp(f.name, "thr_max_index") == 0) {
            if (!(value >= 0.0 && value <= 4294967295.0) || std::floor(value) != value) {
                return "parameter " + name + " takes a whole number in 0..4294967295";
            }
            reinterpret_cast<uint32_t*>(field)[index] = static_cast<uint32_t>(value);
        } else {
            reinterpret_cast<double*>(field)[index] = value;
        }
        return "";
    }
    return "unknown parameter '" + name + "'; parameters are: " + parameter_name_list();
}
