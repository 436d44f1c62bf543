// The model's records by field name, for host programs that read names from
// files and command lines.
#ifndef GUIDE_FIELDS_H
#define GUIDE_FIELDS_H

#include <string>
#include <vector>

#include "GuideW.h"
#include "record_fields.h"

constexpr int kInputCount = GUIDEW_INPUT_COUNT;
constexpr int kOutputCount = GUIDEW_OUTPUT_COUNT;
constexpr int kStateCount = GUIDEW_STATE_COUNT;

// Names in record (and array) order.
extern const char* const kInputNames[kInputCount];
extern const char* const kOutputNames[kOutputCount];
extern const char* const kStateNames[kStateCount];

// Index of name in names, or -1.
int field_index(const char* const* names, int count, const std::string& name);

// The record's fields as arrays of doubles in record order.
const double* input_values(const GuideWInputs& u);
double* input_values(GuideWInputs& u);
const double* output_values(const GuideWOutputs& y);
const double* state_values(const GuideWStates& dw);

// Sets one parameter by name: a scalar ("roll_kp"), an array element
// ("thr_table[17]", "thr_max_index[0]"). thr_max_index takes a whole number
// in 0..4294967295. Otherwise throws a ToolError (status 1) that names the
// problem (and, for an unknown name, lists the valid ones).
void set_parameter(GuideWParams& p, const std::string& name, double value);

// Every name set_parameter accepts, arrays written as "thr_table[0..131]".
std::string parameter_name_list();

#endif
