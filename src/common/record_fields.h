/* The fields of the model's records (GuideW_fields.h, the one list), as
 * C++ tables for the programs of this repository that name fields: the
 * tools, the FMU, the field-table generator, the tests.
 *
 * The tables are checked against the C structures of GuideW_types.h at
 * compile time: a parameter added to the structure and not to the list, or
 * out of order, does not build. */
#ifndef GUIDEW_RECORD_FIELDS_H
#define GUIDEW_RECORD_FIELDS_H

#include "GuideW_fields.h"
#include "GuideW_types.h"

#ifdef __cplusplus

#include <cstddef>
#include <cstdint>

namespace guidew_fields {

// One field of a record of doubles.
struct Field {
    const char* name;
    const char* unit;
    const char* description;
};

// One field of the parameter record: a double or an unsigned 32-bit
// integer, a scalar (length 0) or an array.
struct ParamField {
    const char* name;
    bool is_integer;
    int length;
    size_t offset;
    const char* unit;
    const char* description;
};

#define GUIDEW_FIELD_ROW(name, unit, text) Field{#name, unit, text},
inline constexpr Field kInputs[] = {GUIDEW_INPUT_FIELDS(GUIDEW_FIELD_ROW)};
inline constexpr Field kOutputs[] = {GUIDEW_OUTPUT_FIELDS(GUIDEW_FIELD_ROW)};
inline constexpr Field kStates[] = {GUIDEW_STATE_FIELDS(GUIDEW_FIELD_ROW)};
#undef GUIDEW_FIELD_ROW

#define GUIDEW_PARAM_ROW(name, type, length, unit, text) \
    ParamField{#name, sizeof(type) == 4, length, offsetof(GuideWParams, name), unit, text},
inline constexpr ParamField kParams[] = {GUIDEW_PARAM_FIELDS(GUIDEW_PARAM_ROW)};
#undef GUIDEW_PARAM_ROW

// ---- The lists agree with the structures -------------------------------------
// Records of doubles: the k-th listed field sits at 8 k, and the list covers
// the whole structure.
template <size_t N>
constexpr bool packed_in_order(const size_t (&offsets)[N], size_t record_size) {
    for (size_t k = 0; k < N; ++k) {
        if (offsets[k] != k * sizeof(double)) return false;
    }
    return N * sizeof(double) == record_size;
}

#define GUIDEW_INPUT_OFFSET(name, unit, text) offsetof(GuideWInputs, name),
#define GUIDEW_OUTPUT_OFFSET(name, unit, text) offsetof(GuideWOutputs, name),
#define GUIDEW_STATE_OFFSET(name, unit, text) offsetof(GuideWStates, name),
inline constexpr size_t kInputOffsets[] = {GUIDEW_INPUT_FIELDS(GUIDEW_INPUT_OFFSET)};
inline constexpr size_t kOutputOffsets[] = {GUIDEW_OUTPUT_FIELDS(GUIDEW_OUTPUT_OFFSET)};
inline constexpr size_t kStateOffsets[] = {GUIDEW_STATE_FIELDS(GUIDEW_STATE_OFFSET)};
#undef GUIDEW_INPUT_OFFSET
#undef GUIDEW_OUTPUT_OFFSET
#undef GUIDEW_STATE_OFFSET
static_assert(packed_in_order(kInputOffsets, sizeof(GuideWInputs)), "input list != GuideWInputs");
static_assert(packed_in_order(kOutputOffsets, sizeof(GuideWOutputs)),
              "output list != GuideWOutputs");
static_assert(packed_in_order(kStateOffsets, sizeof(GuideWStates)), "state list != GuideWStates");
static_assert(sizeof kInputs / sizeof kInputs[0] == GUIDEW_INPUT_COUNT, "input count");
static_assert(sizeof kOutputs / sizeof kOutputs[0] == GUIDEW_OUTPUT_COUNT, "output count");
static_assert(sizeof kStates / sizeof kStates[0] == GUIDEW_STATE_COUNT, "state count");

// The parameter record: each listed field starts where the one before ends,
// and the last one ends the structure.
constexpr size_t param_size(const ParamField& f) {
    return (f.is_integer ? 4u : 8u) * static_cast<size_t>(f.length == 0 ? 1 : f.length);
}
constexpr bool params_in_order() {
    size_t end = 0;
    for (const ParamField& f : kParams) {
        if (f.offset != end) return false;
        end = f.offset + param_size(f);
    }
    return end == sizeof(GuideWParams);
}
static_assert(params_in_order(), "parameter list != GuideWParams");

inline constexpr int kInputCount = GUIDEW_INPUT_COUNT;
inline constexpr int kOutputCount = GUIDEW_OUTPUT_COUNT;
inline constexpr int kStateCount = GUIDEW_STATE_COUNT;
inline constexpr int kParamCount = static_cast<int>(sizeof kParams / sizeof kParams[0]);

}  // namespace guidew_fields

#endif /* __cplusplus */

#endif
