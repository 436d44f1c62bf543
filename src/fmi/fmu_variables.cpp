#include "fmu_variables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "input_ranges.h"
#include "record_fields.h"

namespace guidew_fmu {
namespace {

using guidew_fields::Field;
using guidew_fields::ParamField;

const ParamField& param_named(const char* name) {
    for (const ParamField& f : guidew_fields::kParams) {
        if (std::strcmp(f.name, name) == 0) return f;
    }
    std::fprintf(stderr, "guidew fmu: no parameter %s in the field list\n", name);
    std::abort();
}

// The declared range of an input that has one (input_ranges.h).
void set_range(Variable& v) {
    for (const guidew_fields::InputRange& r : guidew_fields::kInputRanges) {
        if (v.name == r.input) {
            v.min = r.min;
            v.max = r.max;
        }
    }
}

template <size_t N>
void add_doubles(std::vector<Variable>& out, const Field (&fields)[N], uint32_t base,
                 Causality causality, Record record) {
    for (size_t i = 0; i < N; ++i) {
        out.push_back(Variable{fields[i].name,
                               base + static_cast<uint32_t>(i),
                               causality,
                               Base::real,
                               record,
                               i * sizeof(double),
                               1,
                               {},
                               fields[i].unit,
                               fields[i].description});
        if (causality == Causality::input) set_range(out.back());
    }
}

// A parameter array's elements under the structured naming convention:
// 1-based indices, the trim table as [speed, altitude] like its FMI 3.0
// dimensions.
std::string element_name(const ParamField& f, size_t k) {
    if (std::strcmp(f.name, "thr_table") == 0) {
        const size_t alt = table_altitude_count();
        return std::string(f.name) + "[" + std::to_string(k / alt + 1) + "," +
               std::to_string(k % alt + 1) + "]";
    }
    return std::string(f.name) + "[" + std::to_string(k + 1) + "]";
}

// What one element of a parameter array is, in the tools' 0-based terms.
std::string element_description(const ParamField& f, size_t k) {
    std::string text = std::string(f.description) + "; record element " + std::to_string(k);
    if (std::strcmp(f.name, "thr_table") == 0) {
        const size_t alt = table_altitude_count();
        text += " (at thr_spd_bp[" + std::to_string(k / alt + 1) + "], thr_alt_bp[" +
                std::to_string(k % alt + 1) + "])";
    }
    return text;
}

void add_params_fmi2(std::vector<Variable>& out) {
    uint32_t vr = kParamBase;
    for (const ParamField& f : guidew_fields::kParams) {
        const Base base = f.is_integer ? Base::integer : Base::real;
        const size_t size = f.is_integer ? sizeof(uint32_t) : sizeof(double);
        if (f.length == 0) {
            out.push_back(Variable{f.name,
                                   vr++,
                                   Causality::parameter,
                                   base,
                                   Record::params,
                                   f.offset,
                                   1,
                                   {},
                                   f.unit,
                                   f.description});
            continue;
        }
        for (size_t k = 0; k < static_cast<size_t>(f.length); ++k) {
            out.push_back(Variable{element_name(f, k),
                                   vr++,
                                   Causality::parameter,
                                   base,
                                   Record::params,
                                   f.offset + k * size,
                                   1,
                                   {},
                                   f.unit,
                                   element_description(f, k)});
            // The record holds the table indices unsigned: a negative FMI 2.0
            // Integer is refused.
            if (base == Base::integer) out.back().min = 0.0;
        }
    }
}

void add_params_fmi3(std::vector<Variable>& out) {
    uint32_t vr = kParamBase;
    for (const ParamField& f : guidew_fields::kParams) {
        const Base base = f.is_integer ? Base::integer : Base::real;
        const size_t count = f.length == 0 ? 1 : static_cast<size_t>(f.length);
        std::vector<size_t> dims;
        if (std::strcmp(f.name, "thr_table") == 0) {
            dims = {table_speed_count(), table_altitude_count()};
        } else if (f.length > 0) {
            dims = {count};
        }
        out.push_back(Variable{f.name, vr++, Causality::parameter, base, Record::params, f.offset,
                               count, dims, f.unit, f.description});
    }
}

std::vector<Variable> make_variables(FmiVersion v) {
    std::vector<Variable> out;
    out.push_back(Variable{"time",
                           kTimeReference,
                           Causality::independent,
                           Base::real,
                           Record::time,
                           0,
                           1,
                           {},
                           "s",
                           "simulation time"});
    add_doubles(out, guidew_fields::kInputs, kInputBase, Causality::input, Record::inputs);
    add_doubles(out, guidew_fields::kOutputs, kOutputBase, Causality::output, Record::outputs);
    if (v == FmiVersion::v2) {
        add_params_fmi2(out);
    } else {
        add_params_fmi3(out);
    }
    add_doubles(out, guidew_fields::kStates, kStateBase, Causality::local, Record::states);
    out.push_back(Variable{"overrun",
                           kOverrunReference,
                           Causality::local,
                           Base::boolean,
                           Record::overrun,
                           0,
                           1,
                           {},
                           "",
                           "a step was skipped because the instance was already stepping"});
    return out;
}

// FNV-1a, 64 bits.
uint64_t digest(const std::string& text, uint64_t seed) {
    uint64_t h = seed;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string make_token(FmiVersion v) {
    std::string text = v == FmiVersion::v2 ? "GuideW FMI 2.0" : "GuideW FMI 3.0";
    for (const Variable& var : variables(v)) {
        text += "|" + var.name + ":" + std::to_string(var.value_reference) + ":" +
                std::to_string(static_cast<int>(var.base)) + ":" +
                std::to_string(static_cast<int>(var.causality)) + ":" + std::to_string(var.count);
    }
    const uint64_t a = digest(text, 14695981039346656037ull);
    const uint64_t b = digest(text, a);
    char out[40];
    std::snprintf(out, sizeof out, "{%08x-%04x-%04x-%04x-%012llx}", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xffff), static_cast<unsigned>(a & 0xffff),
                  static_cast<unsigned>(b >> 48),
                  static_cast<unsigned long long>(b & 0xffffffffffffull));
    return out;
}

}  // namespace

size_t table_speed_count() { return static_cast<size_t>(param_named("thr_spd_bp").length); }

size_t table_altitude_count() { return static_cast<size_t>(param_named("thr_alt_bp").length); }

const std::vector<Variable>& variables(FmiVersion v) {
    static const std::vector<Variable> v2 = make_variables(FmiVersion::v2);
    static const std::vector<Variable> v3 = make_variables(FmiVersion::v3);
    return v == FmiVersion::v2 ? v2 : v3;
}

const Variable* find_variable(FmiVersion v, uint32_t value_reference) {
    static const auto index = [] {
        std::map<uint32_t, const Variable*> by_vr[2];
        for (int k = 0; k < 2; ++k) {
            for (const Variable& var : variables(k == 0 ? FmiVersion::v2 : FmiVersion::v3)) {
                by_vr[k][var.value_reference] = &var;
            }
        }
        return std::vector<std::map<uint32_t, const Variable*>>{by_vr[0], by_vr[1]};
    }();
    const auto& m = index[v == FmiVersion::v2 ? 0 : 1];
    const auto it = m.find(value_reference);
    return it == m.end() ? nullptr : it->second;
}

const std::string& model_token(FmiVersion v) {
    static const std::string v2 = make_token(FmiVersion::v2);
    static const std::string v3 = make_token(FmiVersion::v3);
    return v == FmiVersion::v2 ? v2 : v3;
}

const char* causality_name(Causality c) {
    switch (c) {
        case Causality::independent: return "independent";
        case Causality::input: return "input";
        case Causality::output: return "output";
        case Causality::parameter: return "parameter";
        case Causality::local: return "local";
    }
    return "local";
}

const char* variability_name(const Variable& v) {
    switch (v.causality) {
        case Causality::parameter: return "tunable";
        case Causality::independent: return "continuous";
        case Causality::input:
        case Causality::output:
        case Causality::local: return "discrete";
    }
    return "discrete";
}

const char* type_name(FmiVersion v, Base b) {
    switch (b) {
        case Base::real: return v == FmiVersion::v2 ? "Real" : "Float64";
        case Base::integer: return v == FmiVersion::v2 ? "Integer" : "UInt32";
        case Base::boolean: return "Boolean";
    }
    return "?";
}

static_assert(sizeof(GuideWParams) % sizeof(uint32_t) == 0, "parameter record alignment");

}  // namespace guidew_fmu
