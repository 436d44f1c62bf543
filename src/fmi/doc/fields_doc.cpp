#include "fields_doc.h"

#include <map>

#include "GuideW_instance.h"
#include "fmu_variables.h"

namespace guidew_fields_doc {
namespace {

using guidew_fmu::FmiVersion;
using guidew_fmu::Variable;

// An FMI 2.0 variable's record field: its name without the element index.
std::string field_of(const Variable& v) { return v.name.substr(0, v.name.find('[')); }

}  // namespace

GuideWParams default_params() {
    GuideWParams p;
    GuideW_default_params(&p);
    return p;
}

std::vector<FmuVariable> fmu_variables() {
    std::map<std::string, std::vector<const Variable*>> fmi2;  // by record field
    for (const Variable& v : guidew_fmu::variables(FmiVersion::v2)) fmi2[field_of(v)].push_back(&v);
    std::vector<FmuVariable> out;
    for (const Variable& v : guidew_fmu::variables(FmiVersion::v3)) {
        const std::vector<const Variable*>& scalars = fmi2.at(v.name);
        const Variable& first = *scalars.front();
        const char* element = first.name.find('[') == std::string::npos   ? ""
                              : first.name.find(',') != std::string::npos ? "[s,a]"
                                                                          : "[i]";
        out.push_back(FmuVariable{
            v.name, guidew_fmu::causality_name(v.causality),
            guidew_fmu::type_name(FmiVersion::v2, first.base), first.value_reference,
            scalars.back()->value_reference, scalars.size(), element,
            guidew_fmu::type_name(FmiVersion::v3, v.base), v.dims, v.value_reference, v.unit,
            v.description, guidew_fmu::variability_name(first), first.min, first.max});
    }
    return out;
}

}  // namespace guidew_fields_doc
