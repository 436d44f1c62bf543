// Loading libGuide.so the way any host does: through the dynamic loader,
// finding the entry points by their exported names.
#ifndef GUIDE_LIBRARY_H
#define GUIDE_LIBRARY_H

#include <string>

#include "GuideW.h"
#include "GuideW_instance.h"

// The instance entry points (GuideW_instance.h), for a host that flies more
// than one law at a time; null where the library has none.
struct GuideInstanceCalls {
    GuideWInstance* (*create)() = nullptr;
    void (*destroy)(GuideWInstance*) = nullptr;
    void (*initialize)(GuideWInstance*) = nullptr;
    void (*one_step)(GuideWInstance*, const double*, double*) = nullptr;
    GuideWOutputs* (*outputs)(GuideWInstance*) = nullptr;
    GuideWParams* (*params)(GuideWInstance*) = nullptr;
    GuideWStates* (*states)(GuideWInstance*) = nullptr;
};

struct GuideLibrary {
    void* handle = nullptr;
    void (*initialize)() = nullptr;
    void (*step)() = nullptr;
    void (*terminate)() = nullptr;
    void (*one_step)(const double*) = nullptr;
    void (*get_output)(double*) = nullptr;
    void (*guide_exit)() = nullptr;
    GuideWInputs* inputs = nullptr;
    GuideWOutputs* outputs = nullptr;
    GuideWParams* params = nullptr;
    GuideWStates* states = nullptr;
    GuideInstanceCalls instances;
};

// The directory of the running executable, with a trailing '/'.
std::string executable_dir();

// The library next to the running executable, where the build puts both;
// failing that the plain name, which the loader resolves through the
// program's run path (installed programs find it in ../lib).
std::string default_library_path();

// Opens the library at path and resolves every entry point; on failure
// throws a ToolError (status 3: the library cannot be used) saying why.
GuideLibrary load_guide_library(const std::string& path);

#endif
