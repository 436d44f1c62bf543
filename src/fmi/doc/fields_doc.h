// What the manual's generated tables need beyond the record field list
// (record_fields.h, which this target passes on): the parameters' defaults
// and the FMU's variables as both FMI versions number them.
//
// The one interface of the guidew_fields_doc target, for field-tables: it
// sees neither the FMU's nor the runtime's internals, so a change inside
// them cannot break the generator, and the generator cannot come to depend
// on them.
#ifndef GUIDEW_FIELDS_DOC_H
#define GUIDEW_FIELDS_DOC_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GuideW_types.h"
#include "record_fields.h"

namespace guidew_fields_doc {

// The parameters' build-time defaults, as the library hands them to every
// new instance.
GuideWParams default_params();

// One FMU variable, in the FMI 3.0 model description's order: a record
// field (a parameter array is one variable), the time or overrun.
struct FmuVariable {
    std::string name;
    const char* causality;  // "independent", "input", "output", "parameter", "local"
    // FMI 2.0: the type and value reference; an array is one scalar per
    // element with consecutive references from fmi2_first to fmi2_last,
    // named name[i] (or name[s,a] for the trim table).
    const char* fmi2_type;
    uint32_t fmi2_first, fmi2_last;
    size_t fmi2_count;
    const char* fmi2_element;  // "", "[i]" or "[s,a]"
    // FMI 3.0: the type, the array dimensions (outermost first, none for a
    // scalar) and the value reference.
    const char* fmi3_type;
    std::vector<size_t> dims;
    uint32_t fmi3_reference;
    const char* unit;  // "" when none
    std::string description;
    const char* variability;  // "continuous", "discrete", "tunable"
    double min, max;          // the declared range; infinite when not declared
};
std::vector<FmuVariable> fmu_variables();

}  // namespace guidew_fields_doc

#endif
