// fmu-model-description: writes the FMU's modelDescription.xml for FMI 2.0
// or 3.0 from the FMU's variables (themselves made from the one field list
// of the records), with the parameters' build-time defaults as start values.
//
//   fmu-model-description 2|3 OUTPUT
//
// The build runs it and packs its output with the binary, so the model
// description and the binary always come from the same sources.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "GuideW_instance.h"
#include "fmu_variables.h"
#include "log_categories.h"

namespace {

using guidew_fmu::Base;
using guidew_fmu::Causality;
using guidew_fmu::FmiVersion;
using guidew_fmu::Variable;

// Each unit of the field list as SI base units: value_SI = factor * value.
struct UnitDefinition {
    const char* name;
    const char* base_units;  // attributes of BaseUnit
};
constexpr UnitDefinition kUnits[] = {
    {"m", "m=\"1\""},
    {"m/s", "m=\"1\" s=\"-1\""},
    {"s", "s=\"1\""},
    {"deg", "rad=\"1\" factor=\"0.017453292519943295\""},
    {"deg/s", "rad=\"1\" s=\"-1\" factor=\"0.017453292519943295\""},
    {"g", "m=\"1\" s=\"-2\" factor=\"9.80665\""},
};

// The run an importer makes when told nothing else (without a stop time
// most run a single second): ten seconds, time for the law to turn an
// aircraft through a manoeuvre, and the longest run FMPy still records at
// the law's own 0.01 s (beyond 1000 points it doubles its interval).
constexpr double kDefaultStopTime_s = 10.0;

constexpr const char* kModelText =
    "Aircraft guidance law at a fixed 0.01 s step: commanded speed and flight direction in, "
    "roll, load factor and throttle commands out";

std::string number(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string xml_text(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// The start values of a parameter, from the build-time defaults, separated
// by spaces (an FMI 3.0 array's elements in row-major order).
std::string start_values(const GuideWParams& defaults, const Variable& v) {
    const unsigned char* at = reinterpret_cast<const unsigned char*>(&defaults) + v.offset;
    std::string s;
    for (size_t i = 0; i < v.count; ++i) {
        if (i > 0) s += ' ';
        if (v.base == Base::integer) {
            uint32_t u;
            std::memcpy(&u, at + i * sizeof u, sizeof u);
            s += std::to_string(u);
        } else {
            double d;
            std::memcpy(&d, at + i * sizeof d, sizeof d);
            s += number(d);
        }
    }
    return s;
}

// The start attribute the standard asks for: parameters (exact) their
// defaults, inputs the 0 the instance starts with; none for the
// independent variable, the outputs and the locals, which the FMU
// calculates (an output is 0 until the first step).
std::string start_attribute(const GuideWParams& defaults, const Variable& v) {
    switch (v.causality) {
        case Causality::parameter: return " start=\"" + start_values(defaults, v) + "\"";
        case Causality::input: return " start=\"0\"";
        case Causality::output:
        case Causality::independent:
        case Causality::local: return "";
    }
    return "";
}

std::string initial(const Variable& v) {
    switch (v.causality) {
        case Causality::parameter: return " initial=\"exact\"";
        case Causality::output: return " initial=\"calculated\"";
        default: return "";
    }
}

bool known_unit(const char* unit) {
    for (const UnitDefinition& u : kUnits) {
        if (std::strcmp(u.name, unit) == 0) return true;
    }
    return false;
}

std::string unit_definitions(FmiVersion version) {
    std::set<std::string> used;
    for (const Variable& v : guidew_fmu::variables(version)) {
        if (*v.unit) used.insert(v.unit);
    }
    std::string s = "  <UnitDefinitions>\n";
    for (const UnitDefinition& u : kUnits) {
        if (used.count(u.name) == 0) continue;
        s += std::string("    <Unit name=\"") + u.name + "\">\n      <BaseUnit " + u.base_units +
             "/>\n    </Unit>\n";
    }
    return s + "  </UnitDefinitions>\n";
}

std::string category(const guidew_fmu::CategoryText& c) {
    return std::string("    <Category name=\"") + c.name + "\" description=\"" +
           xml_text(c.description) + "\"/>\n";
}

std::string log_categories() {
    std::string s = "  <LogCategories>\n";
    for (const guidew_fmu::CategoryText& c : guidew_fmu::kCategories) s += category(c);
    s += category(guidew_fmu::kLogAll);
    return s + "  </LogCategories>\n";
}

std::string common_attributes(const Variable& v) {
    return "name=\"" + xml_text(v.name) + "\" valueReference=\"" +
           std::to_string(v.value_reference) + "\" description=\"" + xml_text(v.description) +
           "\" causality=\"" + guidew_fmu::causality_name(v.causality) + "\" variability=\"" +
           guidew_fmu::variability_name(v) + "\"" + initial(v);
}

// The unit and the declared range: attributes of the type element (FMI 2.0)
// or of the variable itself (FMI 3.0).
std::string type_attributes(const Variable& v) {
    std::string s;
    if (*v.unit) s += std::string(" unit=\"") + v.unit + "\"";
    if (std::isfinite(v.min)) s += " min=\"" + number(v.min) + "\"";
    if (std::isfinite(v.max)) s += " max=\"" + number(v.max) + "\"";
    return s;
}

// The CoSimulation element: what each version's importers may ask of the
// binary.
constexpr const char* kFmi2CoSimulation =
    "  <CoSimulation modelIdentifier=\"GuideW\" needsExecutionTool=\"false\""
    " canHandleVariableCommunicationStepSize=\"true\" canInterpolateInputs=\"false\""
    " maxOutputDerivativeOrder=\"0\" canRunAsynchronuously=\"false\""
    " canBeInstantiatedOnlyOncePerProcess=\"false\""
    " canNotUseMemoryManagementFunctions=\"true\" canGetAndSetFMUstate=\"true\""
    " canSerializeFMUstate=\"true\" providesDirectionalDerivative=\"false\"/>\n";
constexpr const char* kFmi3CoSimulation =
    "  <CoSimulation modelIdentifier=\"GuideW\" needsExecutionTool=\"false\""
    " canBeInstantiatedOnlyOncePerProcess=\"false\" canGetAndSetFMUState=\"true\""
    " canSerializeFMUState=\"true\" providesDirectionalDerivatives=\"false\""
    " providesAdjointDerivatives=\"false\" providesPerElementDependencies=\"false\""
    " canHandleVariableCommunicationStepSize=\"true\" fixedInternalStepSize=\"0.01\""
    " maxOutputDerivativeOrder=\"0\" providesIntermediateUpdate=\"false\""
    " mightReturnEarlyFromDoStep=\"false\" canReturnEarlyAfterIntermediateUpdate=\"false\""
    " hasEventMode=\"false\" providesEvaluateDiscreteStates=\"false\"/>\n";

// The document up to its variables: the root element with the token the
// binary checks (FMI 2.0 guid, FMI 3.0 instantiationToken), the
// co-simulation capabilities, the units, the log categories and the
// default experiment.
std::string document_head(FmiVersion v) {
    const bool fmi2 = v == FmiVersion::v2;
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += std::string("<fmiModelDescription fmiVersion=\"") + (fmi2 ? "2.0" : "3.0") +
         "\" modelName=\"GuideW\" " + (fmi2 ? "guid" : "instantiationToken") + "=\"" +
         guidew_fmu::model_token(v) + "\"\n  description=\"" + xml_text(kModelText) +
         "\"\n  generationTool=\"libGuide fmu-model-description\" version=\"" GUIDEW_VERSION
         "\"\n  variableNamingConvention=\"structured\"" +
         (fmi2 ? " numberOfEventIndicators=\"0\"" : "") + ">\n";
    s += fmi2 ? kFmi2CoSimulation : kFmi3CoSimulation;
    s += unit_definitions(v);
    s += log_categories();
    s += "  <DefaultExperiment startTime=\"0\" stopTime=\"" + number(kDefaultStopTime_s) +
         "\" stepSize=\"0.01\"/>\n";
    return s + "  <ModelVariables>\n";
}

std::string fmi2_document(const GuideWParams& defaults) {
    const auto& vars = guidew_fmu::variables(FmiVersion::v2);
    std::string s = document_head(FmiVersion::v2);
    std::string outputs;
    for (size_t i = 0; i < vars.size(); ++i) {
        const Variable& v = vars[i];
        const char* element = guidew_fmu::type_name(FmiVersion::v2, v.base);
        s += "    <!-- " + std::to_string(i + 1) + " -->\n";
        s += "    <ScalarVariable " + common_attributes(v) + ">\n      <" + element;
        s += type_attributes(v) + start_attribute(defaults, v) + "/>\n    </ScalarVariable>\n";
        if (v.causality == Causality::output) {
            // Outputs change only in a step: none depends directly on an
            // input, and before the first step they are 0 whatever is set.
            outputs +=
                "      <Unknown index=\"" + std::to_string(i + 1) + "\" dependencies=\"\"/>\n";
        }
    }
    s += "  </ModelVariables>\n";
    s += "  <ModelStructure>\n    <Outputs>\n" + outputs + "    </Outputs>\n";
    s += "    <InitialUnknowns>\n" + outputs + "    </InitialUnknowns>\n  </ModelStructure>\n";
    return s + "</fmiModelDescription>\n";
}

std::string fmi3_document(const GuideWParams& defaults) {
    const auto& vars = guidew_fmu::variables(FmiVersion::v3);
    std::string s = document_head(FmiVersion::v3);
    std::string outputs, initial_unknowns;
    for (const Variable& v : vars) {
        const char* element = guidew_fmu::type_name(FmiVersion::v3, v.base);
        s += std::string("    <") + element + " " + common_attributes(v);
        s += type_attributes(v) + start_attribute(defaults, v);
        if (v.dims.empty()) {
            s += "/>\n";
        } else {
            s += ">\n";
            for (size_t d : v.dims) s += "      <Dimension start=\"" + std::to_string(d) + "\"/>\n";
            s += std::string("    </") + element + ">\n";
        }
        if (v.causality == Causality::output) {
            const std::string unknown = " valueReference=\"" + std::to_string(v.value_reference) +
                                        "\" dependencies=\"\"/>\n";
            outputs += "    <Output" + unknown;
            initial_unknowns += "    <InitialUnknown" + unknown;
        }
    }
    s += "  </ModelVariables>\n";
    s += "  <ModelStructure>\n" + outputs + initial_unknowns + "  </ModelStructure>\n";
    return s + "</fmiModelDescription>\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "2") != 0 && std::strcmp(argv[1], "3") != 0)) {
        std::fputs("usage: fmu-model-description 2|3 OUTPUT\n", stderr);
        return 2;
    }
    const FmiVersion version = argv[1][0] == '2' ? FmiVersion::v2 : FmiVersion::v3;
    for (const Variable& v : guidew_fmu::variables(version)) {
        if (*v.unit && !known_unit(v.unit)) {
            std::fprintf(stderr, "fmu-model-description: unit '%s' of %s has no SI definition\n",
                         v.unit, v.name.c_str());
            return 1;
        }
    }
    GuideWParams defaults;
    GuideW_default_params(&defaults);
    const std::string text =
        version == FmiVersion::v2 ? fmi2_document(defaults) : fmi3_document(defaults);
    const std::string tmp = std::string(argv[2]) + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary);
        out << text;
        if (!out.flush()) {
            std::fprintf(stderr, "fmu-model-description: cannot write %s\n", tmp.c_str());
            return 1;
        }
    }
    if (std::rename(tmp.c_str(), argv[2]) != 0) {
        std::fprintf(stderr, "fmu-model-description: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
