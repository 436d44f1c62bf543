#include "guide_fields.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "tool_error.h"

#define GUIDE_FIELD_NAME(name, unit, text) #name,
const char* const kInputNames[kInputCount] = {GUIDEW_INPUT_FIELDS(GUIDE_FIELD_NAME)};
const char* const kOutputNames[kOutputCount] = {GUIDEW_OUTPUT_FIELDS(GUIDE_FIELD_NAME)};
const char* const kStateNames[kStateCount] = {GUIDEW_STATE_FIELDS(GUIDE_FIELD_NAME)};
#undef GUIDE_FIELD_NAME

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

using guidew_fields::kParams;
using guidew_fields::ParamField;

// Splits "base[index]" into its parts; index is -1 without brackets and -2
// when the brackets hold anything but a whole number written plainly
// (digits only, no sign, space or leading zero), so that one element has
// one name.
void split_name(const std::string& name, std::string& base, long& index) {
    const size_t open = name.find('[');
    if (open == std::string::npos) {
        base = name;
        index = -1;
        return;
    }
    base = name.substr(0, open);
    const std::string inner = name.substr(open + 1);
    const size_t close = inner.find(']');
    const std::string digits = inner.substr(0, close);
    const bool plain = close != std::string::npos && close + 1 == inner.size() && !digits.empty() &&
                       digits.size() <= 9 &&
                       digits.find_first_not_of("0123456789") == std::string::npos &&
                       (digits[0] != '0' || digits.size() == 1);
    index = plain ? std::strtol(digits.c_str(), nullptr, 10) : -2;
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

void set_parameter(GuideWParams& p, const std::string& name, double value) {
    std::string base;
    long index;
    split_name(name, base, index);
    for (const ParamField& f : kParams) {
        if (base != f.name) continue;
        if (f.length == 0) {
            if (index != -1) fail(kExitFailed, "parameter " + base + " is not an array");
            std::memcpy(reinterpret_cast<char*>(&p) + f.offset, &value, sizeof value);
            return;
        }
        if (index < 0 || index >= f.length) {
            fail(kExitFailed, "parameter " + base + " needs an index in [0.." +
                                  std::to_string(f.length - 1) + "], as in " + base + "[0]");
        }
        char* field = reinterpret_cast<char*>(&p) + f.offset;
        if (f.is_integer) {
            if (!(value >= 0.0 && value <= 4294967295.0) || std::floor(value) != value) {
                fail(kExitFailed, "parameter " + name + " takes a whole number in 0..4294967295");
            }
            reinterpret_cast<uint32_t*>(field)[index] = static_cast<uint32_t>(value);
        } else {
            reinterpret_cast<double*>(field)[index] = value;
        }
        return;
    }
    fail(kExitFailed,
         "unknown parameter " + quote_text(name) + "; parameters are: " + parameter_name_list());
}
