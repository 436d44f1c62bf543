// The FMU's log categories, named once for the instance (which logs under
// them and switches them on request) and for the model descriptions (which
// declare them to importers).
#ifndef GUIDEW_FMU_LOG_CATEGORIES_H
#define GUIDEW_FMU_LOG_CATEGORIES_H

namespace guidew_fmu {

enum Category : unsigned { kLogEvents, kLogStatusWarning, kLogStatusError, kCategoryCount };

struct CategoryText {
    const char* name;
    const char* description;
};

// In the order of Category.
inline constexpr CategoryText kCategories[kCategoryCount] = {
    {"logEvents", "life-cycle events: initialised, terminated, reset"},
    {"logStatusWarning", "calls answered with a warning or discard"},
    {"logStatusError", "refused calls and why (always on unless switched off)"},
};

// Not a category of its own messages: the name that switches all of them
// at once in fmi2SetDebugLogging / fmi3SetDebugLogging, declared so that an
// importer offering the declared names offers it too.
inline constexpr CategoryText kLogAll = {"logAll", "all of the above at once"};

inline const char* category_name(Category c) { return kCategories[c].name; }

}  // namespace guidew_fmu

#endif
