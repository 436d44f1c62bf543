// The FMU's variables, made from the one field list of the records
// (record_fields.h): the model description generator writes them, the FMU
// binary reads and writes the instance's records through them, so the two
// cannot disagree.
//
// Value references, the same in both FMI versions:
//   0            time, the independent variable
//   100 + i      input i, in record order
//   200 + i      output i
//   300 + i      state i (local, read only)
//   400          overrun, the instance's error status (local Boolean)
//   1000 + ...   parameters: FMI 2.0 gives every array element its own
//                reference (1000 + the element's position over the whole
//                parameter list); FMI 3.0 gives each parameter one
//                (1000 + its position in the list), arrays whole.
#ifndef GUIDEW_FMU_VARIABLES_H
#define GUIDEW_FMU_VARIABLES_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace guidew_fmu {

enum class FmiVersion { v2, v3 };

// Which record a variable lives in. Time and overrun belong to the FMU.
enum class Record { time, inputs, outputs, params, states, overrun };

enum class Causality { independent, input, output, parameter, local };

// Element type: FMI 2.0 Real/Integer/Boolean, FMI 3.0 Float64/UInt32/Boolean.
enum class Base { real, integer, boolean };

struct Variable {
    std::string name;
    uint32_t value_reference;
    Causality causality;
    Base base;
    Record record;
    size_t offset;             // bytes into the record
    size_t count;              // elements: 1, or an FMI 3.0 array's length
    std::vector<size_t> dims;  // FMI 3.0 array dimensions, outermost first
    const char* unit;          // "" when none
    std::string description;
    // The range declared as min and max; an infinite bound is not declared.
    double min = -std::numeric_limits<double>::infinity();
    double max = std::numeric_limits<double>::infinity();
};

inline constexpr uint32_t kTimeReference = 0;
inline constexpr uint32_t kInputBase = 100;
inline constexpr uint32_t kOutputBase = 200;
inline constexpr uint32_t kStateBase = 300;
inline constexpr uint32_t kOverrunReference = 400;
inline constexpr uint32_t kParamBase = 1000;

// Every variable of the FMU, in model description order.
const std::vector<Variable>& variables(FmiVersion v);

// The variable with this value reference, or null.
const Variable* find_variable(FmiVersion v, uint32_t value_reference);

// The trim table's dimensions as FMI 3.0 declares them, outermost first:
// {speeds, altitudes}, so that row-major order (last index fastest) is the
// record's order with the altitude index varying fastest.
size_t table_speed_count();
size_t table_altitude_count();

// The token that ties a binary to its model description (FMI 2.0 guid,
// FMI 3.0 instantiationToken): a digest of every variable's name, value
// reference, type and causality, as "{8-4-4-4-12 hex digits}".
const std::string& model_token(FmiVersion v);

const char* causality_name(Causality c);
// How the variable changes, as the model description declares it:
// parameters are tunable (a value set between steps is used from the next
// step on); everything else but the time is discrete. The law samples its
// inputs once a step and holds its outputs and states from one step to the
// next: nothing of it varies between two steps, so an importer must hold an
// input's value rather than interpolate it, and may not extrapolate an
// output.
const char* variability_name(const Variable& v);
// The element type's name in a version: FMI 2.0 Real, Integer, Boolean;
// FMI 3.0 Float64, UInt32, Boolean.
const char* type_name(FmiVersion v, Base b);

}  // namespace guidew_fmu

#endif
