#include "fmu_registry.h"

#include <mutex>
#include <unordered_set>

namespace guidew_fmu {
namespace {

std::mutex& registry_mutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<Slave*>& registry() {
    static std::unordered_set<Slave*> live;
    return live;
}

}  // namespace

void register_slave(Slave* s) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    registry().insert(s);
}

bool unregister_slave(Slave* s) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    return registry().erase(s) != 0;
}

Slave* live_slave(void* instance) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    Slave* s = static_cast<Slave*>(instance);
    return registry().count(s) != 0 ? s : nullptr;
}

}  // namespace guidew_fmu
