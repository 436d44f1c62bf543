#include "guidance_law.h"

#include <stdexcept>

LoadedInstanceLaw::LoadedInstanceLaw(const GuideInstanceCalls& calls) : calls_(calls) {
    if (!calls.create || !calls.destroy || !calls.initialize || !calls.one_step || !calls.outputs ||
        !calls.params || !calls.states)
        throw std::runtime_error("the loaded libGuide.so has no instances to fly a second law");
    instance_ = calls.create();
    if (instance_ == nullptr) throw std::runtime_error("no memory for a second law's instance");
}
