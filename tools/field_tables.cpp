// field-tables: writes what is generated from the one list of the records'
// fields (src/common/record_fields.h) into the files that must agree with
// it, or checks that they do. The defaults and the FMU's variables come
// through fields_doc.h alone (the guidew_fields_doc target), never from the
// FMU's or the runtime's internals.
//
//   field-tables --check ROOT    exit 1 and say which file is stale
//   field-tables --update ROOT   rewrite the generated parts
//
// Generated parts:
//   docs/host-integration.md the tables between "<!-- generated: KIND -->"
//   docs/fmu.md              and "<!-- end generated -->" (KIND: inputs,
//                            outputs, parameters, states in the first;
//                            fmu-variables in the second)
//   python/guidew/_fields.py the whole file
//   python/guidew/_version.py the whole file: __version__, the CMake
//                            project version
//   src/runtime/library_version.h the whole file: the same version, which
//                            the library returns from GuideW_version
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "fields_doc.h"
#include "record_fields.h"
#include "typical_flight.h"

namespace {

using namespace guidew_fields;

std::string number(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string unit_cell(const char* unit) { return *unit ? unit : ""; }

template <size_t N>
std::string field_table(const Field (&fields)[N]) {
    std::string t = "| # | Field | Unit | Meaning |\n|---|---|---|---|\n";
    for (size_t i = 0; i < N; ++i) {
        t += "| " + std::to_string(i) + " | `" + fields[i].name + "` | " +
             unit_cell(fields[i].unit) + " | " + fields[i].description + " |\n";
    }
    return t;
}

// A parameter's default as the manual shows it: the value, or an array's
// first two values, an ellipsis and its last.
std::string default_text(const GuideWParams& p, const ParamField& f) {
    const char* base = reinterpret_cast<const char*>(&p) + f.offset;
    const auto at = [&](int i) {
        return f.is_integer ? std::to_string(reinterpret_cast<const uint32_t*>(base)[i])
                            : number(reinterpret_cast<const double*>(base)[i]);
    };
    if (f.length == 0) return at(0);
    if (f.length <= 3) {
        std::string s = at(0);
        for (int i = 1; i < f.length; ++i) s += ", " + at(i);
        return s;
    }
    return at(0) + ", " + at(1) + ", …, " + at(f.length - 1);
}

std::string parameter_table() {
    const GuideWParams p = guidew_fields_doc::default_params();
    std::string t = "| Field | Type | Default | Unit | Meaning |\n|---|---|---|---|---|\n";
    for (const ParamField& f : kParams) {
        std::string type = f.is_integer ? "uint32" : "double";
        if (f.length > 0) type += "[" + std::to_string(f.length) + "]";
        t += std::string("| `") + f.name + "` | " + type + " | " + default_text(p, f) + " | " +
             unit_cell(f.unit) + " | " + f.description + " |\n";
    }
    return t;
}

// The FMUs' variables, one row per record field: FMI 2.0 gives each array
// element its own scalar (structured name, consecutive value references),
// FMI 3.0 one array variable.
// A declared range as the manual writes it: "-90 to 90", "≥ 0", or nothing.
std::string range_cell(double min, double max) {
    const bool low = std::isfinite(min), high = std::isfinite(max);
    if (low && high) return number(min) + " to " + number(max);
    if (low) return "≥ " + number(min);
    if (high) return "≤ " + number(max);
    return "";
}

std::string fmu_variable_table() {
    const GuideWParams p = guidew_fields_doc::default_params();
    std::string t =
        "| Variable | Causality, variability | FMI 2.0: type, value reference | FMI 3.0: type, "
        "value reference | Unit | Start | Range | Meaning |\n|---|---|---|---|---|---|---|---|\n";
    for (const guidew_fields_doc::FmuVariable& v : guidew_fields_doc::fmu_variables()) {
        std::string v2 = std::string(v.fmi2_type) + " " + std::to_string(v.fmi2_first);
        if (v.fmi2_count > 1) {
            v2 = std::string(v.fmi2_type) + " `" + v.name + v.fmi2_element + "` " +
                 std::to_string(v.fmi2_first) + "–" + std::to_string(v.fmi2_last);
        }
        std::string v3 = v.fmi3_type;
        for (size_t d : v.dims) v3 += "[" + std::to_string(d) + "]";
        v3 += " " + std::to_string(v.fmi3_reference);
        std::string start;
        if (std::string(v.causality) == "parameter") {
            for (const ParamField& f : kParams) {
                if (v.name == f.name) start = default_text(p, f);
            }
        } else if (std::string(v.causality) == "input") {
            start = "0";
        }
        t += "| `" + v.name + "` | " + v.causality + ", " + v.variability + " | " + v2 + " | " +
             v3 + " | " + unit_cell(v.unit) + " | " + start + " | " + range_cell(v.min, v.max) +
             " | " + v.description + " |\n";
    }
    return t;
}

template <size_t N>
std::string python_names(const char* var, const Field (&fields)[N]) {
    std::string s = std::string(var) + " = (\n";
    for (const Field& f : fields) s += std::string("    \"") + f.name + "\",\n";
    return s + ")\n";
}

template <size_t N>
std::string python_meanings(const Field (&fields)[N]) {
    std::string s;
    for (const Field& f : fields) {
        s += std::string("    \"") + f.name + "\": (\"" + f.unit + "\", \"" + f.description +
             "\"),\n";
    }
    return s;
}

std::string python_module() {
    std::string s =
        "\"\"\"The records' fields, generated by field-tables from the one field list of\n"
        "libGuide (src/common/record_fields.h). Do not edit: run scripts/generate.sh.\"\"\"\n\n";
    s += python_names("INPUT_FIELDS", kInputs);
    s += python_names("OUTPUT_FIELDS", kOutputs);
    s += python_names("STATE_FIELDS", kStates);
    s += "# (name, element type: \"d\" double or \"I\" uint32, length or 0 for a scalar, byte "
         "offset)\n";
    s += "PARAM_LAYOUT = (\n";
    for (const ParamField& f : kParams) {
        s += std::string("    (\"") + f.name + "\", \"" + (f.is_integer ? "I" : "d") + "\", " +
             std::to_string(f.length) + ", " + std::to_string(f.offset) + "),\n";
    }
    s += ")\n";
    s += "RECORD_SIZES = {\"inputs\": " + std::to_string(sizeof(GuideWInputs)) +
         ", \"outputs\": " + std::to_string(sizeof(GuideWOutputs)) +
         ", \"params\": " + std::to_string(sizeof(GuideWParams)) +
         ", \"states\": " + std::to_string(sizeof(GuideWStates)) +
         ", \"model\": " + std::to_string(sizeof(GuideWModel)) + "}\n";
    s += "# name: (unit, meaning)\nMEANINGS = {\n";
    s += python_meanings(kInputs) + python_meanings(kOutputs) + python_meanings(kStates);
    for (const ParamField& f : kParams) {
        s += std::string("    \"") + f.name + "\": (\"" + f.unit + "\", \"" + f.description +
             "\"),\n";
    }
    s += "}\n";
    s += "# The typical flight: level at 200 m/s north at 3000 m, commanded 30 deg right\n"
         "# and 5 deg up at 220 m/s, mode 1; and the commands of one step of it.\n";
    s += "TYPICAL_FLIGHT: dict[str, float] = {\n";
    const double* in = &kTypicalFlight.speed_cmd;
    for (int i = 0; i < kInputCount; ++i) {
        if (in[i] != 0.0)
            s += std::string("    \"") + kInputs[i].name + "\": " + number(in[i]) + ",\n";
    }
    s += "}\nTYPICAL_COMMANDS: tuple[float, float, float, float] = (";
    const double* out = &kTypicalCommands.lat_cmd;
    for (int i = 0; i < kOutputCount; ++i) s += (i ? ", " : "") + number(out[i]);
    return s + ")\n";
}

// The package's version is the CMake project's, handed in at compile time,
// so that one number names a release of the library and of its binding.
std::string python_version_module() {
    return "\"\"\"The version of libGuide this package belongs to, generated by field-tables\n"
           "from the CMake project version. Do not edit: run scripts/generate.sh.\"\"\"\n\n"
           "__version__ = \"" GUIDEW_PROJECT_VERSION "\"\n";
}

// The same version for the library itself (GuideW_version), as a header so
// that every build of the runtime's sources (the fuzz targets' included)
// carries it without a compile definition.
std::string library_version_header() {
    return "// The version of libGuide, generated by field-tables from the CMake project\n"
           "// version. Do not edit: run scripts/generate.sh.\n"
           "#ifndef GUIDEW_LIBRARY_VERSION_H\n#define GUIDEW_LIBRARY_VERSION_H\n\n"
           "#define GUIDEW_LIBRARY_VERSION \"" GUIDEW_PROJECT_VERSION "\"\n\n#endif\n";
}

bool read_file(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

// Replaces every generated block of text; false when a block is unknown or
// not closed.
bool fill_blocks(std::string& text, const std::map<std::string, std::string>& blocks,
                 std::string& problem) {
    const std::string open = "<!-- generated: ", close = "<!-- end generated -->";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const size_t name_end = text.find(" -->", at);
        const size_t body = text.find('\n', at);
        const size_t end = text.find(close, at);
        if (name_end == std::string::npos || body == std::string::npos ||
            end == std::string::npos) {
            problem = "unclosed generated block";
            return false;
        }
        const std::string name = text.substr(at + open.size(), name_end - at - open.size());
        const auto it = blocks.find(name);
        if (it == blocks.end()) {
            problem = "unknown generated block '" + name + "'";
            return false;
        }
        text.replace(body + 1, end - body - 1, it->second);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "--check" && mode != "--update") {
        std::fputs("usage: field-tables --check|--update ROOT\n", stderr);
        return 2;
    }
    const std::string root = argv[2];
    const std::map<std::string, std::string> manual_blocks = {
        {"inputs", field_table(kInputs)},        {"outputs", field_table(kOutputs)},
        {"parameters", parameter_table()},       {"states", field_table(kStates)},
        {"fmu-variables", fmu_variable_table()},
    };
    const std::map<std::string, std::function<bool(std::string&, std::string&)>> files = {
        {"docs/host-integration.md",
         [&](std::string& t, std::string& why) { return fill_blocks(t, manual_blocks, why); }},
        {"docs/fmu.md",
         [&](std::string& t, std::string& why) { return fill_blocks(t, manual_blocks, why); }},
        {"python/guidew/_fields.py",
         [&](std::string& t, std::string&) {
             t = python_module();
             return true;
         }},
        {"python/guidew/_version.py",
         [&](std::string& t, std::string&) {
             t = python_version_module();
             return true;
         }},
        {"src/runtime/library_version.h",
         [&](std::string& t, std::string&) {
             t = library_version_header();
             return true;
         }},
    };
    int stale = 0;
    for (const auto& [name, generate] : files) {
        const std::string path = root + "/" + name;
        std::string old_text, problem;
        if (!read_file(path, old_text) && name.find(".md") != std::string::npos) {
            std::fprintf(stderr, "field-tables: cannot read %s\n", path.c_str());
            return 1;
        }
        std::string new_text = old_text;
        if (!generate(new_text, problem)) {
            std::fprintf(stderr, "field-tables: %s: %s\n", path.c_str(), problem.c_str());
            return 1;
        }
        if (new_text == old_text) continue;
        if (mode == "--check") {
            std::fprintf(
                stderr,
                "field-tables: %s is out of date with the field list; run scripts/generate.sh\n",
                path.c_str());
            ++stale;
        } else {
            std::ofstream(path, std::ios::binary) << new_text;
            std::printf("field-tables: wrote %s\n", path.c_str());
        }
    }
    return stale == 0 ? 0 : 1;
}
